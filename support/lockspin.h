#pragma once

#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace sd {

// Takes `lock` (one that does not own its mutex now), spinning
// a little first while another thread holds it. The sections that a batch's
// threads share are short; a thread put to sleep for one costs two context
// switches and a wake-up call, far more than the wait.
template<class Mutex> void lockSoon(std::unique_lock<Mutex> &lock)
{
    constexpr int kSpins = 40;
    for (int i = 0; i < kSpins; ++i) {
        if (lock.try_lock())
            return;
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
    }
    lock.lock();
}

// `mutex`, taken as above.
template<class Mutex> std::unique_lock<Mutex> lockSoon(Mutex &mutex)
{
    std::unique_lock<Mutex> lock(mutex, std::defer_lock);
    lockSoon(lock);
    return lock;
}

} // namespace sd
