// The sound server stands still (SIGSTOP) in the middle of a stream of the built-in synthesizer.
// For 3 s: the program's event loop must keep turning meanwhile, and once the server goes on
// (SIGCONT) the next request must start and be heard at the server's sink. For half a second,
// as a loaded machine can stall: the stream must go on afterwards.

#include "EngineTestSupport.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"

#include <midigen/MidiGen.h>

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

using namespace enginetest;

namespace
{

// A flute on C5 held for 8 s, then one on F#6: neither pitch is near a harmonic of the other.
const QByteArray HeldNote = QByteArrayLiteral("I73,C5;800");
constexpr int HeldKey = 60;
const QByteArray NextNote = QByteArrayLiteral("I73,F#6;100");
constexpr int NextKey = 78;

constexpr std::size_t Window = 4410; // 100 ms

// The recording so far from frame `from` on (the recorder keeps recording).
Samples recorded(const bench::MonitorRecorder &recorder, std::size_t from = 0)
{
    const std::size_t frames = recorder.frames();
    Samples audio;
    for (std::size_t n = from; n < frames; ++n) {
        audio.push_back(recorder.sample(n, 0));
        audio.push_back(recorder.sample(n, 1));
    }
    return audio;
}

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

class FrozenServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!server.start())
            GTEST_SKIP() << "no sound server to start";
        ASSERT_TRUE(recorder.start());
    }

    // Plays the held note until it has sounded at the sink for 300 ms; returns its level there.
    double startTheHeldNote()
    {
        EXPECT_TRUE(generator.PlayString(HeldNote));
        const auto sounding = [&] { return heldLevel() > 300; };
        EXPECT_TRUE(runEventLoopUntil(sounding, HangDeadlineMs)) << "the held note was never heard";
        runEventLoop(300);
        return heldLevel();
    }
    // The held note's level in the last 100 ms recorded.
    double heldLevel() const
    {
        const std::size_t frames = recorder.frames();
        if (frames < Window)
            return 0;
        return amplitudeAt(recorded(recorder, frames - Window), 0, Window, noteFrequency(HeldKey));
    }

    testsupport::PrivateSoundServer server;
    bench::MonitorRecorder recorder;
    TMidiGen generator;
};

} // namespace

TEST_F(FrozenServer, TheEventLoopTurnsWhileTheServerStandsStillAndTheNextRequestSounds)
{
    const HangGuard guard(90000, "the frozen-server test");
    const double before = startTheHeldNote();
    ASSERT_FALSE(HasFailure());

    // The server stands still for 3 s; another thread lets it go on, whatever the event loop
    // does meanwhile.
    GapMeter meter;
    server.suspend();
    std::thread resumer([this] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        server.resume();
    });
    runEventLoop(3500);
    resumer.join();
    std::printf("largest gap of a 10 ms timer while the server stood still: %lld ms\n",
                meter.largestMs());
    // A benchmark prints the figure against its target; this bound only tells a turning event
    // loop from one that waits for the server.
    EXPECT_LT(meter.largestMs(), 1000) << "the event loop waited for the frozen server";

    runEventLoop(500);
    const std::size_t requestFrame = recorder.frames();
    ASSERT_TRUE(generator.PlayString(NextNote)) << "the request after the server went on";
    runEventLoop(2500);
    recorder.stop();

    // The next note at the sink: some 100 ms after the request in which its pitch is strong
    // and stronger than the held note's.
    const Samples audio = recorded(recorder);
    const double held = noteFrequency(HeldKey);
    const double next = noteFrequency(NextKey);
    double best = 0;
    for (std::size_t from = requestFrame; from + Window <= audio.size() / 2; from += Window / 4) {
        const double level = amplitudeAt(audio, from, Window, next);
        if (level > amplitudeAt(audio, from, Window, held))
            best = std::max(best, level);
    }
    std::printf("held note %.0f, next note %.0f at the sink\n", before, best);
    EXPECT_GT(best, before / 10) << "the next request was not heard";
}

TEST_F(FrozenServer, AStallOfHalfASecondDoesNotEndTheStream)
{
    const HangGuard guard(90000, "the stalled-server test");
    const double before = startTheHeldNote();
    ASSERT_FALSE(HasFailure());
    server.suspend();
    std::thread resumer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        server.resume();
    });
    runEventLoop(600);
    resumer.join();
    runEventLoop(1000);
    EXPECT_TRUE(generator.IsPlaying()) << "a stall of half a second ended the stream";
    const double after = heldLevel();
    std::printf("the held note: %.0f before the stall, %.0f a second after it\n", before, after);
    EXPECT_GT(after, before / 3) << "the held note did not go on";
}
