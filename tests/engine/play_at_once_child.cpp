// A program that plays at once, run as a child by test_edges.cpp: it creates its tone generator,
// makes its first request at once and quits when the stream has ended, as a program that plays
// a tune when it starts does. engine_play_at_once_child PLAYSTRING
// It prints "key=value" lines: request (CLOCK_MONOTONIC of the request), played (its result),
// ended (CLOCK_MONOTONIC of IsPlayingChanged(false)).

#include "EngineTestSupport.h"

#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TMidiGen generator;
    QObject::connect(&generator, &TMidiGen::IsPlayingChanged, &app, [](bool playing) {
        if (!playing) {
            std::printf("ended=%.6f\n", enginetest::monotonicSeconds());
            QCoreApplication::quit();
        }
    });
    std::printf("request=%.6f\n", enginetest::monotonicSeconds());
    const bool played = generator.PlayString(argv[1]);
    std::printf("played=%d\n", played);
    std::fflush(stdout);
    return played ? app.exec() : 1;
}
