// The real program under X with a private PulseAudio server: from the click on "I'm ready!" to
// the first sound of the backup run's jingle at the sink. The click is sent through XTest and
// stamped on CLOCK_MONOTONIC just before; the sink's frames are placed on the same clock by the
// recorder. Each run starts the program afresh in a home of its own.
// Usage: bench_ready_click NOGGIX [RUNS]   (needs DISPLAY; RUNS default 5)
// Prints "key value" lines for scripts/bench.

#include "BackupJingle.h"
#include "MonitorRecorder.h"
#include "OfflineRender.h"
#include "PrivateSoundServer.h"
#include "SinkLevels.h"
#include "XDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

namespace
{

using bench::MonitorRecorder;
constexpr int Rate = MonitorRecorder::Rate;

// Positions from the layouts (app/*.ui): "Noggix now!" in the main window's bottom bar at y 441,
// "I'm ready!" in the bottom bar of "Get ready!" at y 177.
constexpr int BackupX = 488 + 85, BackupY = 441 + 8 + 12;
constexpr int ReadyX = 456 + 37, ReadyY = 177 + 8 + 12;

// One run: the program started, "Noggix now!" clicked, "I'm ready!" clicked a second after the
// dialog shows. Returns the time of the click, or -1 when a window did not come.
double runOnce(const QString &program, bench::XDriver &x)
{
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("Documents"));
    QProcess noggix;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    noggix.setProcessEnvironment(env);
    noggix.setStandardOutputFile(QProcess::nullDevice());
    noggix.setStandardErrorFile(QProcess::nullDevice());
    noggix.start(program, {});
    double click = -1;
    const bench::XDriver::Window main = x.waitForWindow("Noggix 1.0", 15000);
    if (main != 0) {
        QThread::msleep(2000); // a user looks at the window; the synthesizer comes up
        x.moveTo(main, BackupX, BackupY);
        x.click();
        const bench::XDriver::Window dialog = x.waitForWindow("Get ready!", 5000);
        if (dialog != 0) {
            QThread::msleep(1000); // a user reads the dialog
            x.moveTo(dialog, ReadyX, ReadyY);
            QThread::msleep(50);
            click = MonitorRecorder::now();
            x.click();
            QThread::msleep(2000);
        }
    }
    noggix.kill();
    noggix.waitForFinished(5000);
    return click;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_ready_click NOGGIX [RUNS]\n");
        return 2;
    }
    const int runs = args.size() > 2 ? args[2].toInt() : 5;
    bench::XDriver x;
    testsupport::PrivateSoundServer server;
    if (!x.ok() || !server.start()) {
        std::fprintf(stderr, "bench_ready_click: no X display with XTest, or no sound server\n");
        return 1;
    }
    MonitorRecorder recorder;
    std::vector<double> loud, first;
    int silent = 0;
    for (int run = 0; run < runs; ++run) {
        if (!recorder.start())
            return 1;
        const double click = runOnce(args[1], x);
        recorder.stop();
        if (click < 0) {
            std::fprintf(stderr, "bench_ready_click: a window of the program did not show\n");
            return 1;
        }
        const std::size_t from = recorder.frameAt(click);
        const std::size_t sound = bench::firstAtLeast(recorder, from, from + Rate, 1);
        const std::size_t rose =
            bench::firstAtLeast(recorder, from, from + Rate, bench::Above30dBFS);
        if (rose >= from + Rate) {
            ++silent;
            continue;
        }
        first.push_back((recorder.timeOf(sound) - click) * 1000.0);
        loud.push_back((recorder.timeOf(rose) - click) * 1000.0);
        std::fprintf(stderr, "run %d: first sample %.2f ms, -30 dBFS %.2f ms\n", run, first.back(),
                     loud.back());
    }
    bench::printStats("ready-click-ms", loud);
    bench::printStats("ready-click-nonzero-ms", first);
    std::printf("ready-click-silent %d\n", silent);
    // The program's jingle with the program's settings, as the tool takes them.
    const noggix::JingleSettings &jingle = noggix::BackupJingleSettings;
    const QStringList settings{QStringLiteral("Modulation=%1").arg(jingle.modulation),
                               QStringLiteral("Sustain=%1").arg(jingle.sustain ? "true" : "false"),
                               QStringLiteral("PitchBend=%1").arg(jingle.pitchBend),
                               QStringLiteral("Duration=%1").arg(jingle.duration),
                               QStringLiteral("Loops=%1").arg(jingle.loops)};
    std::printf("jingle-rise-ms %.2f\n",
                bench::riseMs(bench::renderOffline(noggix::BackupJingle, settings)));
    return 0;
}
