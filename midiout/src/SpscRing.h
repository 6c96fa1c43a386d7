#pragma once

// A wait-free queue of fixed capacity between one producer thread and one consumer thread.

#include <array>
#include <atomic>
#include <cstddef>

namespace midiout
{

template <typename T, std::size_t Capacity> class SpscRing
{
public:
    // Producer: false (and nothing queued) when the ring is full.
    bool push(const T &item)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity)
            return false;
        items_[tail % Capacity] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Consumer: false when the ring is empty.
    bool pop(T &item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return false;
        item = items_[head % Capacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> items_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

} // namespace midiout
