#pragma once

// The latest value written by one thread, read by another, without waiting on either side: a
// triple buffer. The reader sees every write in order or skips to a later one, never a torn one.

#include <atomic>

namespace midiout
{

template <typename T> class LatestValue
{
public:
    // Writer only.
    void write(const T &value)
    {
        slots_[back_] = value;
        back_ = middle_.exchange(back_ | Fresh, std::memory_order_acq_rel) & Index;
    }
    // Reader only: the latest value written, or the initial one before any write.
    const T &read()
    {
        if (middle_.load(std::memory_order_relaxed) & Fresh)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & Index;
        return slots_[front_];
    }

private:
    static constexpr int Index = 3, Fresh = 4;
    T slots_[3] = {};
    std::atomic<int> middle_{1};
    int back_ = 0;  // writer's
    int front_ = 2; // reader's
};

} // namespace midiout
