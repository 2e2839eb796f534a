#include "io/bytesource.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sd {

Error MemorySource::read(char *dst, size_t cap, size_t *got)
{
    const size_t n = std::min(cap, m_size - m_pos);
    std::memcpy(dst, m_data + m_pos, n);
    m_pos += n;
    *got = n;
    return {};
}

// Read-ahead: blocks of kReadAheadBlock bytes, at most kReadAheadDepth of
// them waiting, recycled through a free list.
constexpr size_t kReadAheadBlock = 1 << 20;
constexpr size_t kReadAheadDepth = 4;

struct ReadAheadSource::State
{
    std::unique_ptr<ByteSource> inner;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> full;
    std::vector<std::string> spare;
    std::string current;
    size_t currentPos = 0;
    bool finished = false; // producer reached the end or an error
    bool stop = false; // consumer gone
    Error error;
    std::thread worker;

    void produce()
    {
        for (;;) {
            std::string block;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || full.size() < kReadAheadDepth; });
                if (stop)
                    return;
                if (!spare.empty()) {
                    block.swap(spare.back());
                    spare.pop_back();
                }
            }
            block.resize(kReadAheadBlock);
            size_t filled = 0;
            Error e;
            bool end = false;
            while (filled < block.size()) {
                size_t got = 0;
                if ((e = inner->read(block.data() + filled, block.size() - filled, &got))
                    || got == 0) {
                    end = true;
                    break;
                }
                filled += got;
            }
            block.resize(filled);
            std::lock_guard<std::mutex> lock(mutex);
            if (filled)
                full.push_back(std::move(block));
            if (end) {
                error = e;
                finished = true;
            }
            changed.notify_all();
            if (end)
                return;
        }
    }
};

ReadAheadSource::ReadAheadSource(std::unique_ptr<ByteSource> inner)
    : m_state(std::make_unique<State>())
{
    m_state->inner = std::move(inner);
    m_state->worker = std::thread([s = m_state.get()] { s->produce(); });
}

ReadAheadSource::~ReadAheadSource()
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->changed.notify_all();
    m_state->worker.join();
}

Error ReadAheadSource::read(char *dst, size_t cap, size_t *got)
{
    State &s = *m_state;
    *got = 0;
    while (*got < cap) {
        if (s.currentPos == s.current.size()) {
            std::unique_lock<std::mutex> lock(s.mutex);
            if (!s.current.empty()) {
                s.spare.push_back(std::move(s.current));
                s.current = std::string();
            }
            s.currentPos = 0;
            if (s.full.empty() && *got > 0)
                return {}; // hand over what we have rather than wait
            s.changed.wait(lock, [&] { return !s.full.empty() || s.finished; });
            if (s.full.empty())
                return s.error;
            s.current = std::move(s.full.front());
            s.full.pop_front();
            s.changed.notify_all();
        }
        const size_t n = std::min(cap - *got, s.current.size() - s.currentPos);
        std::memcpy(dst + *got, s.current.data() + s.currentPos, n);
        s.currentPos += n;
        *got += n;
    }
    return {};
}

} // namespace sd
