#include "MonitorRecorder.h"

#include "PrivateSoundServer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <ctime>

namespace bench
{

double MonitorRecorder::now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool MonitorRecorder::start()
{
    stop();
    const pa_sample_spec format{PA_SAMPLE_S16LE, Rate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = ReadFrames * 4; // small fragments: each read comes back soon after its frames
    int error = 0;
    pa_simple *connection = pa_simple_new(nullptr, "noggix-bench", PA_STREAM_RECORD,
                                          testsupport::PrivateSoundServer::Monitor, "monitor",
                                          &format, nullptr, &attr, &error);
    if (connection == nullptr)
        return false;
    latencyMs_ = double(pa_simple_get_latency(connection, &error)) / 1000.0;
    samples_.assign(2 * std::size_t(Rate) * 600, 0); // ten minutes, never reallocated
    stamps_.clear();
    stamps_.reserve(std::size_t(Rate) * 600 / ReadFrames);
    frames_ = 0;
    anchor_ = 1e300;
    stop_ = false;
    thread_ = std::thread([this, connection] { run(connection); });
    return true;
}

void MonitorRecorder::run(void *c)
{
    auto *connection = static_cast<pa_simple *>(c);
    int error = 0;
    std::size_t frames = 0;
    while (!stop_ && 2 * (frames + ReadFrames) <= samples_.size()) {
        if (pa_simple_read(connection, &samples_[2 * frames], ReadFrames * 4, &error) < 0)
            break;
        const double stamp = now();
        frames += ReadFrames;
        stamps_.emplace_back(frames, stamp);
        const double anchor = stamp - double(frames) / Rate;
        if (anchor < anchor_.load())
            anchor_.store(anchor);
        frames_.store(frames, std::memory_order_release);
    }
    pa_simple_free(connection);
}

void MonitorRecorder::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

double MonitorRecorder::anchorNear(std::size_t n) const
{
    // The least delayed read within half a second: an overrun of the record path earlier on
    // (frames lost) cannot shift the placement. Beyond the recording, its nearest read.
    double anchor = 1e300;
    std::size_t nearest = 0;
    for (std::size_t i = 0; i < stamps_.size(); ++i) {
        const auto &[frames, stamp] = stamps_[i];
        if (frames + Rate / 2 >= n && frames <= n + Rate / 2)
            anchor = std::min(anchor, stamp - double(frames) / Rate);
        if (frames <= n)
            nearest = i;
    }
    if (anchor == 1e300 && !stamps_.empty())
        anchor = stamps_[nearest].second - double(stamps_[nearest].first) / Rate;
    return anchor;
}

double MonitorRecorder::timeOf(std::size_t n) const
{
    return anchorNear(n) + double(n) / Rate;
}

std::size_t MonitorRecorder::frameAt(double seconds) const
{
    const double offset = (seconds - anchor_.load()) * Rate;
    std::size_t n = offset <= 0 ? 0 : std::size_t(offset);
    n = std::size_t(std::max(0.0, (seconds - anchorNear(n)) * Rate)); // the local anchor
    return n;
}

void MonitorRecorder::readDelays(double &medianMs, double &maxMs) const
{
    std::vector<double> delays;
    for (const auto &[frames, stamp] : stamps_)
        delays.push_back((stamp - double(frames) / Rate - anchorNear(frames)) * 1000.0);
    std::sort(delays.begin(), delays.end());
    medianMs = delays.empty() ? 0 : delays[delays.size() / 2];
    maxMs = delays.empty() ? 0 : delays.back();
}

} // namespace bench
