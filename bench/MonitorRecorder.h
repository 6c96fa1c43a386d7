#pragma once

// Records the private sound server's null sink through its monitor, on a thread of its own, and
// places every recorded frame on CLOCK_MONOTONIC with the recorder's own timing: each read is
// stamped when it returns; the frame n of the recording then lies at or before
// stamp - (frames read so far - n) / rate, and the earliest such anchor over all reads is the
// one least delayed by the record path. Times placed with it can only come out late, never early.

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace bench
{

class MonitorRecorder
{
public:
    static constexpr int Rate = 44100;
    static constexpr int ReadFrames = 64;

    ~MonitorRecorder() { stop(); }
    // Connects to the monitor and starts recording; false when the server cannot be reached.
    bool start();
    // Stops recording (also ends by itself when the server goes away).
    void stop();

    // Recorded frames so far. The placement below reads the stamps: call it once stopped.
    std::size_t frames() const { return frames_.load(std::memory_order_acquire); }
    // Left sample of frame n, then right (n < frames()).
    std::int16_t sample(std::size_t n, int channel) const { return samples_[2 * n + channel]; }
    // CLOCK_MONOTONIC time of frame n in seconds.
    double timeOf(std::size_t n) const;
    // First frame at or after `from` whose time is at or after `seconds`.
    std::size_t frameAt(double seconds) const;
    // The latency of the monitor that the server reported when recording began, in ms: what
    // the record path adds to a placed time at most, beyond the least delayed read.
    double reportedLatencyMs() const { return latencyMs_; }
    // How much later than the least delayed one the reads came back: median and maximum, ms.
    void readDelays(double &medianMs, double &maxMs) const;

    static double now();

private:
    double anchorNear(std::size_t n) const;
    void run(void *connection);

    std::vector<std::int16_t> samples_;
    std::vector<std::pair<std::size_t, double>> stamps_; // frames read so far, time
    std::atomic<std::size_t> frames_{0};
    std::atomic<double> anchor_{1e300};
    std::atomic<bool> stop_{false};
    double latencyMs_ = 0;
    std::thread thread_;
};

} // namespace bench
