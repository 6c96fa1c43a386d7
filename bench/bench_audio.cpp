// The built-in synthesizer measured from outside, through a private PulseAudio server with a
// null sink whose monitor is recorded, on the public API alone (a TMidiGen on the machine's own
// output, as a program uses it): first sound of requests in each state of the output, Stop(),
// gaps beside FluidSynth's driver alone, note placement against FluidSynth's file renderer, and
// survival of sound server restarts. Prints "key value" lines for scripts/bench.
// Usage: bench_audio [PART]   PART: requests, placement or kills (default: all)

#include "OfflineRender.h"
#include "Placement.h"
#include "RequestTimes.h"
#include "ServerKills.h"
#include "ServerKind.h"
#include "SinkLevels.h"
#include "SoundBench.h"

#include <QElapsedTimer>

#include <cstdio>

namespace
{

// The first request of the process, half a second after its first component was created: what
// a program that plays at once waits for the synthesizer to start.
void measureFirstOfProcess(bench::SoundBench &bench, const QElapsedTimer &created)
{
    bench::pumpFor(int(500 - created.elapsed()));
    const double request = bench::MonitorRecorder::now();
    bench.generator.setDuration(50);
    const bool started = bench.generator.PlayString(QByteArrayLiteral("I16,C5"));
    bench.waitEnd(10000);
    bench.recorder.stop();
    const std::size_t from = bench.recorder.frameAt(request);
    const std::size_t to = from + 5 * bench::MonitorRecorder::Rate;
    const std::size_t sound = bench::firstAtLeast(bench.recorder, from, to, bench::Above30dBFS);
    if (started && sound < to)
        std::printf("first-of-process-ms %.2f\n", (bench.recorder.timeOf(sound) - request) * 1e3);
    else
        std::printf("first-of-process-ms n/a\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString only = app.arguments().value(1);
    const auto want = [&only](const char *part) { return only.isEmpty() || only == part; };

    testsupport::PrivateSoundServer server(bench::serverKind());
    if (!server.start()) {
        std::fprintf(stderr, "bench_audio: no sound server could be started\n");
        return 1;
    }
    bench::MonitorRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "bench_audio: cannot record the null sink's monitor\n");
        return 1;
    }
    QElapsedTimer created;
    created.start();
    TMidiGen generator;
    bench::SoundBench bench{server, recorder, generator};
    bench.awake();
    measureFirstOfProcess(bench, created);

    if (want("requests")) {
        std::printf("note-rise-ms %.2f\n",
                    bench::riseMs(bench::renderOffline(QByteArrayLiteral("I16,C5"),
                                                       {QStringLiteral("Duration=100")})));
        bench::measureAfterSilence(bench, 16);
        bench::measureOnRunningOutput(bench, 12);
        bench::measureInterrupting(bench, 12);
        bench::measureStop(bench, 12);
    }
    if (want("placement"))
        bench::measurePlacement(bench);
    if (want("kills"))
        bench::measureServerKills(bench, 5);
    return 0;
}
