// The sound server stands still (SIGSTOP) for 3 s in the middle of a stream of the built-in
// synthesizer: the program's event loop must keep turning meanwhile, and once the server goes
// on (SIGCONT) the next request must start and be heard at the server's sink.

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

// The left channel of the recording so far (the recorder keeps recording).
Samples recorded(const bench::MonitorRecorder &recorder)
{
    const std::size_t frames = recorder.frames();
    Samples audio(2 * frames);
    for (std::size_t n = 0; n < frames; ++n) {
        audio[2 * n] = recorder.sample(n, 0);
        audio[2 * n + 1] = recorder.sample(n, 1);
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

} // namespace

TEST(FrozenServer, TheEventLoopTurnsWhileTheServerStandsStillAndTheNextRequestSounds)
{
    const HangGuard guard(90000, "the frozen-server test");
    testsupport::PrivateSoundServer server;
    if (!server.start())
        GTEST_SKIP() << "no sound server to start";
    bench::MonitorRecorder recorder;
    ASSERT_TRUE(recorder.start());
    TMidiGen generator;
    ASSERT_TRUE(generator.PlayString(HeldNote));

    // The held note reaches the sink (a fresh null sink may hold a new stream back a while).
    const double held = noteFrequency(HeldKey);
    const auto sounding = [&] {
        const std::size_t frames = recorder.frames();
        return frames > Window &&
               amplitudeAt(recorded(recorder), frames - Window, Window, held) > 300;
    };
    ASSERT_TRUE(runEventLoopUntil(sounding, HangDeadlineMs)) << "the held note was never heard";
    runEventLoop(300);
    const double heldLevel =
        amplitudeAt(recorded(recorder), recorder.frames() - Window, Window, held);

    // The server stands still for 3 s; another thread lets it go on, whatever the event loop
    // does meanwhile.
    GapMeter meter;
    server.suspend();
    std::thread resumer([&server] {
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
    const double next = noteFrequency(NextKey);
    double best = 0;
    for (std::size_t from = requestFrame; from + Window <= audio.size() / 2; from += Window / 4) {
        const double level = amplitudeAt(audio, from, Window, next);
        if (level > amplitudeAt(audio, from, Window, held))
            best = std::max(best, level);
    }
    std::printf("held note %.0f, next note %.0f at the sink\n", heldLevel, best);
    EXPECT_GT(best, heldLevel / 10) << "the next request was not heard";
}
