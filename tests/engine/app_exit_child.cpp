// A program whose application object goes while a tone generator plays a long play string, run
// as a child by test_app_exit.cpp: engine_app_exit_child <scenario> <builtin|offline>.
//   parented   the generator is a child of the application, destroyed with it after exec()
//   static     a function-local static generator still plays when main returns
//   outliving  the generator outlives the application: its next PlayString, then its destructor
//   secondapp  a short string plays to its end; under a second application the same generator
//              is asked again
//   startup    the process ends while the built-in synthesizer is still starting, a given
//              number of milliseconds after a generator was created and the start was asked for
//              (a third argument)
// It prints "key=value" lines: played (the first request's result), teardown (CLOCK_MONOTONIC
// and CPU seconds when the teardown begins), later (the request after the application went),
// firstended and ended (secondapp: the streams under the first and the second application
// ended), done (main is about to return).

#include "EngineTestSupport.h"

#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{

// An organ chord held for 20 s: it still sounds whenever the teardown comes.
const QByteArray LongString = QByteArrayLiteral("I19,C5;2000,0;E5;2000,0;G5;2000");
const QByteArray ShortString = QByteArrayLiteral("I19,C5;20");

void report(const char *key, double value)
{
    std::printf("%s=%.6f\n", key, value);
    std::fflush(stdout);
}

void markTeardown()
{
    std::printf("teardown=%.6f %.6f\n", enginetest::monotonicSeconds(),
                enginetest::processCpuSeconds());
    std::fflush(stdout);
}

// Lets the stream sound for a while: on the built-in synthesizer the event loop runs for
// 500 ms; an offline output renders 500 ms of audio, its notifications handled in between.
void letItPlay(midiout::OfflineOutput *offline)
{
    if (offline == nullptr) {
        enginetest::runEventLoop(500);
        return;
    }
    for (int block = 0; block < 344; ++block) {
        offline->render(64);
        QCoreApplication::processEvents();
    }
}

int parented(int argc, char **argv, bool builtin)
{
    // Declared before the application: the output outlives the generator that plays on it.
    std::unique_ptr<midiout::OfflineOutput> offline;
    if (!builtin)
        offline = std::make_unique<midiout::OfflineOutput>();
    QCoreApplication app(argc, argv);
    auto *generator = offline ? new TMidiGen(*offline, &app) : new TMidiGen(&app);
    report("played", generator->PlayString(LongString));
    letItPlay(offline.get());
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();
    markTeardown();
    report("done", 1);
    return 0;
}

TMidiGen &builtinGenerator()
{
    static TMidiGen generator;
    return generator;
}

TMidiGen &offlineGenerator(midiout::OfflineOutput *&output)
{
    static midiout::OfflineOutput offline; // constructed first, destroyed last
    static TMidiGen generator(offline);
    output = &offline;
    return generator;
}

int staticGenerator(int argc, char **argv, bool builtin)
{
    QCoreApplication app(argc, argv);
    midiout::OfflineOutput *offline = nullptr;
    TMidiGen &generator = builtin ? builtinGenerator() : offlineGenerator(offline);
    report("played", generator.PlayString(LongString));
    letItPlay(offline);
    markTeardown();
    report("done", 1);
    return 0;
}

// Lets the stream play until it ends by itself; false when it is still playing at the deadline.
bool playToTheEnd(TMidiGen &generator, midiout::OfflineOutput *offline)
{
    if (offline == nullptr)
        return enginetest::runEventLoopUntil([&] { return !generator.IsPlaying(); },
                                             enginetest::HangDeadlineMs);
    for (int block = 0; block < 20000 && generator.IsPlaying(); ++block) {
        offline->render(64);
        QCoreApplication::processEvents();
    }
    return !generator.IsPlaying();
}

int outliving(int argc, char **argv, bool builtin)
{
    std::unique_ptr<midiout::OfflineOutput> offline;
    if (!builtin)
        offline = std::make_unique<midiout::OfflineOutput>();
    TMidiGen *generator = nullptr;
    {
        QCoreApplication app(argc, argv);
        generator = offline ? new TMidiGen(*offline) : new TMidiGen();
        report("played", generator->PlayString(LongString));
        letItPlay(offline.get());
        markTeardown();
    }
    report("later", generator->PlayString(ShortString));
    delete generator;
    report("done", 1);
    return 0;
}

int secondApplication(int argc, char **argv, bool builtin)
{
    std::unique_ptr<midiout::OfflineOutput> offline;
    if (!builtin)
        offline = std::make_unique<midiout::OfflineOutput>();
    TMidiGen *generator = nullptr;
    {
        // The engine serves this application: a short string plays to its end.
        QCoreApplication app(argc, argv);
        generator = offline ? new TMidiGen(*offline) : new TMidiGen();
        report("played", generator->PlayString(ShortString));
        report("firstended", playToTheEnd(*generator, offline.get()));
        markTeardown();
    }
    // The same generator (the output owner) under a second application: its request is
    // refused at once, or its stream plays and ends.
    QCoreApplication app(argc, argv);
    report("later", generator->PlayString(ShortString));
    report("ended", playToTheEnd(*generator, offline.get()));
    delete generator;
    report("done", 1);
    return 0;
}

int exitDuringStartup(int argc, char **argv, int delayMs)
{
    QCoreApplication app(argc, argv);
    {
        TMidiGen generator;
        midiout::StartBuiltinSynth();
        report("played", 1); // nothing to play: the start-up is what is under test
        enginetest::runEventLoop(delayMs);
    }
    markTeardown();
    report("done", 1);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s parented|static|outliving|secondapp|startup builtin|offline "
                     "[delay]\n",
                     argv[0]);
        return 2;
    }
    const bool builtin = std::strcmp(argv[2], "builtin") == 0;
    const char *scenario = argv[1];
    if (std::strcmp(scenario, "parented") == 0)
        return parented(argc, argv, builtin);
    if (std::strcmp(scenario, "static") == 0)
        return staticGenerator(argc, argv, builtin);
    if (std::strcmp(scenario, "outliving") == 0)
        return outliving(argc, argv, builtin);
    if (std::strcmp(scenario, "secondapp") == 0)
        return secondApplication(argc, argv, builtin);
    if (std::strcmp(scenario, "startup") == 0 && argc == 4)
        return exitDuringStartup(argc, argv, std::atoi(argv[3]));
    std::fprintf(stderr, "unknown scenario %s\n", scenario);
    return 2;
}
