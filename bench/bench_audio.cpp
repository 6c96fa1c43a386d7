// The built-in synthesizer measured from outside, through a private PulseAudio server with a
// null sink whose monitor is recorded, on the public API alone (a TMidiGen on the machine's own
// output, as a program uses it): first sound of requests in each state of the output, Stop(),
// gaps beside FluidSynth's driver alone, note placement against FluidSynth's file renderer, and
// survival of sound server restarts. Prints "key value" lines for scripts/bench.
// The engine's edges: a program's first request at once after it created its component, the
// first after a server restart, and the signalled end of a stream against its last note-off.
// Usage: bench_audio [PART]   PART: requests, edges, placement or kills (default: all)

#include "Edges.h"
#include "OfflineRender.h"
#include "Placement.h"
#include "RequestTimes.h"
#include "ServerKills.h"
#include "ServerKind.h"
#include "SinkLevels.h"
#include "SoundBench.h"

#include <cstdio>

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
    TMidiGen generator;
    bench::SoundBench bench{server, recorder, generator};
    bench.awake();

    if (want("requests")) {
        std::printf("note-rise-ms %.2f\n",
                    bench::riseMs(bench::renderOffline(QByteArrayLiteral("I16,C5"),
                                                       {QStringLiteral("Duration=100")})));
        bench::measureAfterSilence(bench, 16);
        bench::measureOnRunningOutput(bench, 12);
        bench::measureInterrupting(bench, 12);
        bench::measureStop(bench, 12);
    }
    if (want("edges")) {
        bench::measureFirstRequests(bench, QStringLiteral(FIRST_REQUEST), 10);
        bench::measureStreamEnds(bench, 6);
        bench::measureFirstAfterRestart(bench, 3);
    }
    if (want("placement"))
        bench::measurePlacement(bench);
    if (want("kills"))
        bench::measureServerKills(bench, 5);
    return 0;
}
