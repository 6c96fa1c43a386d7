// The sound server stands still (SIGSTOP) in the middle of a stream of the built-in synthesizer.
// For 3 s: the program's event loop must keep turning meanwhile, and once the server goes on
// (SIGCONT) the next request must start and be heard at the server's sink. For half a second,
// as a loaded machine can stall: the stream must go on afterwards. Requests and stops made while
// it stands still must leave the generator usable.

#include "SinkTest.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <thread>

using namespace enginetest;

namespace
{

// Counts the largest gap between the ticks of a 10 ms timer.
class GapMeter
{
public:
    GapMeter()
    {
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { largestMs_ = std::max(largestMs_, since_.restart()); });
        since_.start();
        timer_.start(10);
    }
    qint64 largestMs() const { return largestMs_; }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 largestMs_ = 0;
};

class FrozenServer : public SinkTest
{
protected:
    // Stops the server for ms; another thread lets it go on, whatever the event loop does.
    std::thread freezeFor(int ms)
    {
        server.suspend();
        return std::thread([this, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            server.resume();
        });
    }
};

} // namespace

TEST_F(FrozenServer, TheEventLoopTurnsWhileTheServerStandsStillAndTheNextRequestSounds)
{
    const HangGuard guard(90000, "the frozen-server test");
    const double before = startTheHeldNote();
    ASSERT_FALSE(HasFailure());

    GapMeter meter;
    std::thread resumer = freezeFor(3000);
    runEventLoop(3500);
    resumer.join();
    std::printf("largest gap of a 10 ms timer while the server stood still: %lld ms\n",
                meter.largestMs());
    // A benchmark prints the figure against its target; this bound only tells a turning event
    // loop from one that waits for the server.
    EXPECT_LT(meter.largestMs(), 1000) << "the event loop waited for the frozen server";

    runEventLoop(500);
    const std::size_t request = recorder.frames();
    ASSERT_TRUE(generator.PlayString(NextNote)) << "the request after the server went on";
    runEventLoop(2500);
    recorder.stop();
    const double next = nextNoteHeldFrom(request);
    std::printf("held note %.0f, next note %.0f at the sink\n", before, next);
    EXPECT_GT(next, before / 10) << "the next request was not heard";
}

TEST_F(FrozenServer, AStallOfHalfASecondDoesNotEndTheStream)
{
    const HangGuard guard(90000, "the stalled-server test");
    const double before = startTheHeldNote();
    ASSERT_FALSE(HasFailure());
    std::thread resumer = freezeFor(500);
    runEventLoop(600);
    resumer.join();
    runEventLoop(1000);
    EXPECT_TRUE(generator.IsPlaying()) << "a stall of half a second ended the stream";
    const double after = levelNow(HeldKey);
    std::printf("the held note: %.0f before the stall, %.0f a second after it\n", before, after);
    EXPECT_GT(after, before / 3) << "the held note did not go on";
}

TEST_F(FrozenServer, RequestsWhileTheServerStandsStillLeaveTheGeneratorUsable)
{
    // Requests and stops pile up for the audio side while it cannot run; none may be lost so
    // that the generator refuses later requests or a stream never ends.
    const HangGuard guard(120000, "requests to a frozen server");
    startTheHeldNote();
    ASSERT_FALSE(HasFailure());
    std::thread resumer = freezeFor(2000);
    int started = 0;
    for (int round = 0; round < 300; ++round) {
        started += generator.PlayString(round % 2 ? NextNote : HeldNote);
        runEventLoop(round % 3);
        generator.Stop();
    }
    resumer.join();
    std::printf("%d of 300 requests started a stream around the freeze\n", started);
    runEventLoop(500);
    generator.Stop();
    ASSERT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs))
        << "the last stream never ended";

    runEventLoop(500);
    const std::size_t request = recorder.frames();
    ASSERT_TRUE(generator.PlayString(NextNote)) << "the generator refuses requests";
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs))
        << "the stream after the freeze never ended";
    runEventLoop(300);
    recorder.stop();
    EXPECT_GT(nextNoteHeldFrom(request), 100) << "the request after the freeze was not heard";
}
