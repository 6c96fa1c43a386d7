// The engine's edges heard at a private sound server's sink, on PulseAudio and on PipeWire: a
// program's first request made at once after it created its component, the first request after
// the server was started again, and the end of a stream told only once its last note is heard.

#include "EngineTestSupport.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"
#include "SinkLevels.h"
#include "SoundServerStart.h"

#include <midigen/MidiGen.h>

#include <gtest/gtest.h>

#include <cstdio>

using namespace enginetest;
using Kind = testsupport::PrivateSoundServer::Kind;

namespace
{

constexpr int Rate = bench::MonitorRecorder::Rate;
// Three woodblocks 150 ms apart: each is heard as an attack of its own.
const QByteArray Woodblocks = QByteArrayLiteral("I115,C5;5,15;C5,15;C5");

class Edges : public ::testing::TestWithParam<Kind>
{
protected:
    Edges() : server(GetParam()) {}
    void SetUp() override
    {
        START_SOUND_SERVER_OR_SKIP(server);
        ASSERT_TRUE(recorder.start());
        awake();
    }
    // A null sink sleeps until a client asks for a short latency; the recorder's reads wake it.
    void awake()
    {
        const std::size_t from = recorder.frames();
        runEventLoopUntil([&] { return recorder.frames() > from + Rate / 10; }, HangDeadlineMs);
    }
    // The attacks heard between CLOCK_MONOTONIC `from` and `to`; the recorder stops.
    std::size_t attacksBetween(double from, double to)
    {
        runEventLoop(300);
        recorder.stop();
        return bench::attacksIn(recorder, recorder.frameAt(from), recorder.frameAt(to)).size();
    }

    testsupport::PrivateSoundServer server;
    bench::MonitorRecorder recorder;
};

ChildRun playAtOnce(const QByteArray &playString)
{
    return runChild(QStringLiteral(PLAY_AT_ONCE_CHILD), {QString::fromLatin1(playString)},
                    HangDeadlineMs);
}

} // namespace

TEST_P(Edges, AProgramsFirstRequestMadeAtOnceIsHeardWhole)
{
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        if (run > 0) {
            ASSERT_TRUE(recorder.start());
            awake();
        }
        const ChildRun child = playAtOnce(Woodblocks);
        ASSERT_TRUE(child.exited) << "the program did not end";
        ASSERT_EQ(child.value("played"), "1");
        // However long the synthesizer takes to start (a sanitizer's build is slow), the three
        // woodblocks are heard between the request and the program's end.
        EXPECT_EQ(attacksBetween(child.value("request").toDouble(),
                                 child.value("ended").toDouble() + 0.3),
                  3u)
            << "a woodblock of the first request was not heard";
    }
}

TEST_P(Edges, TheEndIsToldOnlyOnceTheLastNoteHasBeenHeard)
{
    // A drawbar organ held for 1 s: its note-off is heard 1 s after its first sample.
    const ChildRun child = playAtOnce(QByteArrayLiteral("I16,C5;100"));
    ASSERT_TRUE(child.exited);
    ASSERT_EQ(child.value("played"), "1");
    runEventLoop(300);
    recorder.stop();
    const std::size_t from = recorder.frameAt(child.value("request").toDouble());
    // Its first sound waits for the synthesizer's start, which a sanitizer's build slows.
    const std::size_t sound = bench::firstAtLeast(recorder, from, from + 5 * Rate, 1);
    ASSERT_LT(sound, from + 5 * Rate) << "nothing was heard";
    std::printf("first sound %.1f ms after the request\n",
                (recorder.timeOf(sound) - child.value("request").toDouble()) * 1000);
    const double noteOff = recorder.timeOf(sound) + 1.0;
    const double ended = child.value("ended").toDouble();
    std::printf("IsPlayingChanged(false) %.1f ms after the note-off was heard\n",
                (ended - noteOff) * 1000);
    // The recorder places frames late, never early: an end told 5 ms before is told too soon.
    EXPECT_GT(ended, noteOff - 0.005) << "the end was told before the sound had ended";
}

TEST_P(Edges, TheFirstRequestAfterTheServerStartedAgainIsHeardWhole)
{
    // An organ, then woodblocks: the woodblock's preset is loaded once the synthesizer is quiet
    // on the new sink.
    TMidiGen generator;
    ASSERT_TRUE(generator.PlayString(QByteArrayLiteral("I16,C5;30")))
        << qPrintable(generator.LastError());
    runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs);
    recorder.stop();
    server.kill();
    runEventLoop(300);
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(recorder.start());
    awake();
    const double request = monotonicSeconds();
    ASSERT_TRUE(generator.PlayString(Woodblocks)) << qPrintable(generator.LastError());
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs));
    EXPECT_EQ(attacksBetween(request, monotonicSeconds() + 0.3), 3u)
        << "a woodblock after the restart was not heard";
}

INSTANTIATE_TEST_SUITE_P(Servers, Edges, ::testing::Values(Kind::PulseAudio, Kind::PipeWire),
                         [](const auto &info) {
                             return info.param == Kind::PulseAudio ? "PulseAudio" : "PipeWire";
                         });
