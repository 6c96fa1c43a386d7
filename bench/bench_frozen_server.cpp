// The event loop of a program that plays a jingle while its sound server is frozen (SIGSTOP,
// not killed) for 5 s: the largest gap of a 10 ms timer, against the same timer over the same
// span of a jingle with the server running; then whether the stream ends and the next request
// sounds once the server goes on. Uses the public API alone, as a program does; the server is
// a private PulseAudio server with a null sink whose monitor is recorded.
// Prints "key value" lines for scripts/bench.

#include "BackupJingle.h"
#include "EventWait.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"
#include "ServerKind.h"
#include "SinkLevels.h"

#include <midigen/MidiGen.h>

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

using bench::MonitorRecorder;
constexpr double FreezeAfter = 0.8; // seconds into the jingle
constexpr double FreezeFor = 5.0;

// Stamps every timeout of a 10 ms timer on CLOCK_MONOTONIC while it lives.
class LoopWatch
{
public:
    LoopWatch()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { stamps_.push_back(MonitorRecorder::now()); });
        timer_.start(10);
    }
    // The largest time between two timeouts that fall in [from, to] or span part of it, in ms.
    double largestGapMs(double from, double to) const
    {
        double gap = 0;
        for (std::size_t i = 1; i < stamps_.size(); ++i)
            if (stamps_[i] >= from && stamps_[i - 1] <= to)
                gap = std::max(gap, stamps_[i] - stamps_[i - 1]);
        return gap * 1000.0;
    }

private:
    QTimer timer_;
    std::vector<double> stamps_;
};

void sleepUntil(double monotonic)
{
    const double left = monotonic - MonitorRecorder::now();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testsupport::PrivateSoundServer server(bench::serverKind());
    MonitorRecorder recorder;
    if (!server.start() || !recorder.start()) {
        std::fprintf(stderr, "bench_frozen_server: no sound server to freeze\n");
        return 1;
    }
    TMidiGen generator;
    noggix::applyJingleSettings(generator);
    // The synthesizer is up before the figures begin.
    generator.PlayString(QByteArrayLiteral("I94,G3,20"));
    bench::pumpUntil([&] { return !generator.IsPlaying(); }, 10000);
    bench::pumpFor(1000);

    LoopWatch watch;
    // The anchor: the same span of a jingle with the server running.
    const double anchorStart = MonitorRecorder::now();
    generator.PlayString(noggix::BackupJingle);
    bench::pumpFor(int((FreezeAfter + FreezeFor + 1.0) * 1000));
    const double anchorEnd = MonitorRecorder::now();
    generator.Stop();
    bench::pumpUntil([&] { return !generator.IsPlaying(); }, 10000);
    bench::pumpFor(1000);

    // The server frozen by a thread of its own, so that a stalled event loop cannot hold up
    // the server's return.
    double frozeAt = 0, thawedAt = 0;
    const double start = MonitorRecorder::now();
    generator.PlayString(noggix::BackupJingle);
    std::thread freezer([&] {
        sleepUntil(start + FreezeAfter);
        frozeAt = MonitorRecorder::now();
        server.suspend();
        sleepUntil(frozeAt + FreezeFor);
        server.resume();
        thawedAt = MonitorRecorder::now();
    });
    bench::pumpFor(int((FreezeAfter + FreezeFor + 1.0) * 1000));
    freezer.join();
    const bool ended = bench::pumpUntil([&] { return !generator.IsPlaying(); }, 10000);
    generator.Stop();
    bench::pumpUntil([&] { return !generator.IsPlaying(); }, 10000);

    // The next request after the server went on.
    bench::pumpFor(500);
    const double again = MonitorRecorder::now();
    const bool started = generator.PlayString(QByteArrayLiteral("I94,G3,50"));
    bench::pumpUntil([&] { return !generator.IsPlaying(); }, 5000);
    bench::pumpFor(300);
    recorder.stop();
    const std::size_t at = recorder.frameAt(again);
    const std::size_t sound = bench::firstAtLeast(recorder, at, at + MonitorRecorder::Rate, 1);

    std::printf("frozen-largest-gap-ms %.1f\n", watch.largestGapMs(frozeAt, thawedAt + 1.0));
    std::printf("running-largest-gap-ms %.1f\n",
                watch.largestGapMs(anchorStart + FreezeAfter, anchorEnd));
    std::printf("frozen-stream-ended %d\n", ended ? 1 : 0);
    if (started && sound < at + MonitorRecorder::Rate)
        std::printf("sounded-after-thaw-ms %.1f\n", (recorder.timeOf(sound) - again) * 1000.0);
    else
        std::printf("sounded-after-thaw-ms n/a\n");
    return 0;
}
