#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace sd {

// Takes `lock` (a std::unique_lock that does not own its mutex yet), spinning
// a little first while another thread holds it. The sections that a batch's
// threads share are short; a thread put to sleep for one costs two context
// switches and a wake-up call, far more than the wait.
template<class Lock> void lockSoon(Lock &lock)
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

} // namespace sd
