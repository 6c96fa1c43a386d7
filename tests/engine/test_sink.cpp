// A request that interrupts a sounding stream, then a stop, heard at a private sound server's
// sink: the old note goes, the new one comes, and after the stop the sink falls silent. The
// bounds are generous: how soon is a benchmark's figure; here it must happen at all.

#include "SinkTest.h"

#include <cstdio>

using namespace enginetest;

using AtTheSink = SinkTest;

TEST_F(AtTheSink, AnInterruptingRequestReplacesTheOldNoteAndAStopSilencesIt)
{
    const HangGuard guard(90000, "the interrupt and stop at the sink");
    const double before = startTheHeldNote();
    ASSERT_FALSE(HasFailure());

    const std::size_t request = recorder.frames();
    ASSERT_TRUE(generator.PlayString(NextNote));
    runEventLoop(1000);
    const double held = levelNow(HeldKey);
    const double next = nextNoteHeldFrom(request);
    std::printf("held note %.0f before the request, %.1f a second after it; next note %.0f\n",
                before, held, next);
    EXPECT_LT(held, before / 30) << "the old stream's note goes on";
    EXPECT_GT(next, before / 10) << "the interrupting request was not heard";

    EXPECT_TRUE(generator.IsPlaying());
    generator.Stop();
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs))
        << "the stopped stream never closed";
    runEventLoop(1000);
    const std::size_t end = recorder.frames();
    const int left = peak(recorded(end - Window), 0, Window);
    std::printf("peak of the last 100 ms, a second after the stop: %d\n", left);
    EXPECT_LT(left, 30) << "the stopped note still sounds";
}
