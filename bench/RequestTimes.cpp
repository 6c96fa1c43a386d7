#include "RequestTimes.h"

#include "GapCount.h"
#include "SinkLevels.h"

#include <cstdio>
#include <vector>

namespace bench
{

namespace
{

constexpr int Rate = MonitorRecorder::Rate;

// The sound of a request: a drawbar organ, loud (about -13 dBFS), reaching -30 dBFS 3 ms after
// its first sample, and sounding without a break for the second it lasts.
const QByteArray Loud = QByteArrayLiteral("I16,C5");
constexpr int LoudVolume = 100;
// The stream that a request finds before it: the same note at about -41 dBFS, under the
// threshold of first sound, so that the request's own sound is told from it.
constexpr int QuietVolume = 20;

bool play(TMidiGen &generator, int volume, quint32 ticks)
{
    generator.setVolume(volume);
    generator.setDuration(ticks);
    return generator.PlayString(Loud);
}

// Milliseconds from `request` to the first frame at or above -30 dBFS within a second, or a
// negative value: -1 when nothing rose, -2 when the sink was that loud already in the 20 ms
// before the request (the earlier sound would be taken for the request's).
double firstSoundMs(const MonitorRecorder &recorder, double request)
{
    const std::size_t from = recorder.frameAt(request);
    if (peakIn(recorder, from - std::min<std::size_t>(from, Rate / 50), from) >= Above30dBFS)
        return -2;
    const std::size_t sound = firstAtLeast(recorder, from, from + Rate, Above30dBFS);
    return sound < from + Rate ? (recorder.timeOf(sound) - request) * 1000.0 : -1;
}

// Prints the statistics of the requests that sounded, and how many did not or were spoiled.
void report(const MonitorRecorder &recorder, const std::vector<double> &requests, const char *key)
{
    std::vector<double> times;
    int silent = 0, spoiled = 0;
    for (const double request : requests) {
        const double ms = request < 0 ? -1 : firstSoundMs(recorder, request);
        if (ms >= 0)
            times.push_back(ms);
        silent += ms == -1 ? 1 : 0;
        spoiled += ms == -2 ? 1 : 0;
        std::fprintf(stderr, "%s: %.2f ms\n", key, ms);
    }
    printStats(key, times);
    std::printf("%s-silent %d\n%s-spoiled %d\n", key, silent, key, spoiled);
}

} // namespace

void measureAfterSilence(SoundBench &bench, int requests)
{
    // Each request comes after 3.5 s without a stream; in that time FluidSynth's driver alone
    // plays for a second, so that the anchor of the gap count meets the same state of the
    // machine as the requests.
    bench.recorder.start();
    bench.awake();
    WakeUpProbe probe;
    std::vector<double> times, bare;
    for (int i = 0; i < requests; ++i) {
        times.push_back(MonitorRecorder::now());
        if (!play(bench.generator, LoudVolume, 100))
            times.back() = -1;
        bench.waitEnd();
        QElapsedTimer silence;
        silence.start();
        pumpFor(300);
        bare.push_back(MonitorRecorder::now());
        {
            BareDriver driver;
            pumpFor(1000);
        }
        pumpFor(int(3500 - silence.elapsed()));
    }
    bench.recorder.stop();
    probe.stop();
    report(bench.recorder, times, "after-silence-ms");
    countGaps(bench.recorder, times, "gaps-requests", probe.stalls());
    countGaps(bench.recorder, bare, "gaps-bare-driver", probe.stalls());
    std::printf("bare-driver-period %d × %d\n", BareDriver::PeriodFrames, BareDriver::Periods);
    double readMedian = 0, readMax = 0;
    bench.recorder.readDelays(readMedian, readMax);
    std::printf("record-latency-ms %.2f\nrecord-read-delay-median-ms %.2f\n"
                "record-read-delay-max-ms %.2f\n",
                bench.recorder.reportedLatencyMs(), readMedian, readMax);
}

void measureOnRunningOutput(SoundBench &bench, int requests)
{
    // The stream before each request is quiet, so that its tail stays under the threshold.
    bench.recorder.start();
    bench.awake();
    std::vector<double> times;
    for (int i = 0; i < requests; ++i) {
        play(bench.generator, QuietVolume, 50);
        bench.waitEnd();
        pumpFor(250);
        times.push_back(MonitorRecorder::now());
        if (!play(bench.generator, LoudVolume, 50))
            times.back() = -1;
        bench.waitEnd();
    }
    pumpFor(500);
    bench.recorder.stop();
    report(bench.recorder, times, "running-ms");
}

void measureInterrupting(SoundBench &bench, int requests)
{
    bench.recorder.start();
    bench.awake();
    std::vector<double> times;
    int notOpen = 0;
    for (int i = 0; i < requests; ++i) {
        play(bench.generator, QuietVolume, 300);
        pumpFor(500);
        notOpen += bench.generator.IsPlaying() ? 0 : 1;
        times.push_back(MonitorRecorder::now());
        if (!play(bench.generator, LoudVolume, 50))
            times.back() = -1;
        bench.waitEnd();
        pumpFor(500);
    }
    bench.recorder.stop();
    report(bench.recorder, times, "interrupting-ms");
    std::printf("interrupting-not-open %d\n", notOpen);
}

void measureStop(SoundBench &bench, int requests)
{
    // Stop() 0.4 s into a loud note held for 3 s; the time until the sink stays below -60 dBFS
    // for the next second.
    bench.recorder.start();
    bench.awake();
    std::vector<double> stops;
    for (int i = 0; i < requests; ++i) {
        play(bench.generator, LoudVolume, 300);
        pumpFor(400);
        stops.push_back(MonitorRecorder::now());
        bench.generator.Stop();
        bench.waitEnd();
        pumpFor(1200);
    }
    bench.recorder.stop();
    std::vector<double> times;
    int notSounding = 0;
    for (const double stop : stops) {
        const std::size_t at = bench.recorder.frameAt(stop);
        if (peakIn(bench.recorder, at - std::min<std::size_t>(at, Rate / 50), at) < Above30dBFS) {
            ++notSounding;
            continue;
        }
        const std::size_t quiet = quietFrom(bench.recorder, at, at + Rate, Above60dBFS);
        times.push_back((bench.recorder.timeOf(quiet) - stop) * 1000.0);
        std::fprintf(stderr, "stop-ms: %.2f\n", times.back());
    }
    printStats("stop-ms", times);
    std::printf("stop-not-sounding %d\n", notSounding);
}

} // namespace bench
