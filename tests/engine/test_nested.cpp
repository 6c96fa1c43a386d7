// A request nested in another: a timer that ticks every millisecond asks for a note while the
// process's first request is under way (its synthesizer starting). Whatever the first request
// waits for, a request made inside it must be refused.

#include "EngineTestSupport.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"

#include <midigen/MidiGen.h>

#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

using namespace enginetest;

TEST(NestedRequest, ATimerTickInsideTheFirstRequestIsRefused)
{
    const HangGuard guard(2 * HangDeadlineMs, "the nested requests");
    testsupport::PrivateSoundServer server;
    START_SOUND_SERVER_OR_SKIP(server);
    TMidiGen generator;
    bool inside = false;
    int tried = 0;
    int started = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!inside)
            return;
        ++tried;
        if (generator.PlayString("I73,G5;10"))
            ++started;
    });
    tick.start(1);
    runEventLoop(5); // the timer is running

    inside = true;
    const bool outer = generator.PlayString("I73,C5;30");
    inside = false;
    std::printf("the first request: %d; %d requests inside it, %d of them started\n", outer, tried,
                started);
    EXPECT_EQ(started, 0) << "a request nested in another was not refused";
    EXPECT_TRUE(outer);
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs));
}
