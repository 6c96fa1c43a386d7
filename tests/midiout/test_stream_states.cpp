// A stream's states on the engine, clocked offline: each case brings a stream into a state,
// gives it one event and checks what follows, in the notifications, the engine's state and what
// is heard. Every case is a fault that a change of the engine could bring.

#include "EngineOutput.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fluidsynth.h>

#include <functional>
#include <memory>

using namespace miditest;
using midiout::StreamState;

namespace
{

constexpr std::size_t Block = midiout::SynthRenderer::BlockFrames;
constexpr std::size_t TickFrames = 441; // 10 ms at 50 ticks per quarter note
using Samples = std::vector<std::int16_t>;

class StreamStates : public testing::Test
{
protected:
    static void SetUpTestSuite() { output = new testsupport::EngineOutput; }
    static void TearDownTestSuite()
    {
        delete output;
        output = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(output->probe(0)) << output->diagnostics().toStdString(); }
    void TearDown() override
    {
        if (stream) {
            stream->stop();
            stream->reset();
            stream->close();
            stream.reset();
        }
        render(300 * Block); // a stop's silencing is over before the next case
    }

    // Open and configured as the tone generator configures its streams: Paused.
    void open()
    {
        stream = output->open(0, &log);
        ASSERT_TRUE(stream);
        stream->reset();
        ASSERT_TRUE(stream->setTimeDivision(50));
        pump();
    }
    // Running a buffer of woodblocks struck at the given ticks.
    void run(std::initializer_list<int> ticks)
    {
        open();
        queueWoodblocks(ticks);
        ASSERT_TRUE(stream->restart());
    }
    void queueWoodblocks(std::initializer_list<int> ticks)
    {
        StreamBuilder b = tonePreamble(115);
        for (const int tick : ticks)
            b.note(std::uint64_t(tick), 0, 72, 2);
        ASSERT_TRUE(stream->queue(b.data(), b.size()));
    }
    // Renders in blocks, delivering the notifications after each.
    Samples render(std::size_t frames)
    {
        Samples all;
        for (std::size_t done = 0; done < frames; done += Block) {
            const auto part = output->render(std::min(Block, frames - done));
            all.insert(all.end(), part.begin(), part.end());
            pump();
        }
        return all;
    }
    StreamState state() const { return output->engine.control.state(); }
    int count(Notification n) const { return log.count(n); }

    static testsupport::EngineOutput *output;
    NotificationLog log;
    std::unique_ptr<midiout::Stream> stream;
};

testsupport::EngineOutput *StreamStates::output = nullptr;

// The attacks of woodblocks in rendered audio, in frames.
std::vector<std::size_t> attacks(const std::vector<std::int16_t> &audio)
{
    return onsets(audio, 3000, 30, 2 * TickFrames);
}

} // namespace

TEST_F(StreamStates, ClosedOpenIsPausedAndPostsOpen)
{
    EXPECT_EQ(state(), StreamState::Closed);
    open();
    EXPECT_EQ(state(), StreamState::Paused);
    EXPECT_EQ(log.received, std::vector<Notification>{Notification::Open});
    EXPECT_EQ(output->open(0, &log), nullptr) << "one stream at a time";
}

TEST_F(StreamStates, PausedAQueuedBufferWaitsForTheRestart)
{
    open();
    queueWoodblocks({0});
    const auto silent = render(20 * TickFrames);
    EXPECT_EQ(peak(silent, 0, silent.size() / 2), 0) << "played without a restart";
    EXPECT_EQ(count(Notification::Position), 0);
    ASSERT_TRUE(stream->restart());
    EXPECT_EQ(state(), StreamState::Running);
    const auto heard = render(10 * TickFrames);
    ASSERT_EQ(attacks(heard).size(), 1u);
    EXPECT_LT(attacks(heard)[0], 2 * Block) << "tick 0 is due at once";
}

TEST_F(StreamStates, RunningStopStandsTheClockUntilTheNextRestart)
{
    run({0, 50});
    render(20 * TickFrames);
    stream->stop();
    EXPECT_EQ(state(), StreamState::Paused);
    render(10 * TickFrames);
    EXPECT_EQ(count(Notification::Done), 1) << "the queued buffer comes back";
    // A buffer queued after the stop plays only once restarted, from its own tick 0.
    queueWoodblocks({0});
    const auto waiting = render(20 * TickFrames);
    EXPECT_TRUE(attacks(waiting).empty()) << "a buffer queued after a stop played by itself";
    ASSERT_TRUE(stream->restart());
    const auto restarted = render(10 * TickFrames);
    ASSERT_EQ(attacks(restarted).size(), 1u);
    EXPECT_LE(attacks(restarted)[0], 3 * Block);
}

TEST_F(StreamStates, RunningPassPlayedOutPostsDoneAndTheNextBufferFollowsOnTheClock)
{
    run({0});
    render(5 * TickFrames);
    EXPECT_EQ(count(Notification::Done), 1);
    EXPECT_EQ(state(), StreamState::Running);
    queueWoodblocks({0}); // played at the tick after the pass's last event at the earliest
    const auto next = render(10 * TickFrames);
    EXPECT_EQ(attacks(next).size(), 1u);
    EXPECT_EQ(count(Notification::Position), 2) << "each pass reaches its first event";
}

TEST_F(StreamStates, RunningTimeDivisionChangedMidPassKeepsTheNextTickAndSpeedsTheRest)
{
    // Woodblocks at ticks 0, 20 and 40; after tick 20 the ticks become twice as short.
    run({0, 20, 40});
    auto audio = render(25 * TickFrames);
    ASSERT_TRUE(stream->setTimeDivision(100));
    const auto after = render(30 * TickFrames);
    audio.insert(audio.end(), after.begin(), after.end());
    const auto found = attacks(audio);
    ASSERT_EQ(found.size(), 3u);
    // The change is seen at tick 25, which keeps its frame (25 ticks of 441 frames); tick 40
    // follows 15 ticks of 220.5 frames later. Ticks counted from the start at the new length
    // would have played the rest of the pass at once; the old length would put it 20 ticks on.
    const double gap = double(found[2] - found[1]);
    EXPECT_NEAR(gap, 5.0 * TickFrames + 15 * TickFrames / 2.0, 3.0 * Block);
}

TEST_F(StreamStates, RunningMoreReportsThanTheRingHoldsEndsTheStream)
{
    // Every event of the buffer carries the callback flag, all at tick 0: more position reports
    // in one block than the ring between the threads holds.
    open();
    StreamBuilder b;
    for (std::size_t i = 0; i <= midiout::EngineCrossing::ReportCapacity; ++i)
        b.add(0, 0xB0, 7, 100, true);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    render(4 * Block);
    EXPECT_EQ(state(), StreamState::Closed) << "the stream went on with reports lost";
    ASSERT_FALSE(log.received.empty());
    EXPECT_EQ(log.received.back(), Notification::Close);
    EXPECT_EQ(count(Notification::Done), 1) << "its end is told, not lost";
    stream.reset();
}

TEST_F(StreamStates, RunningResetSilencesAndKeepsTheBufferQueued)
{
    run({0, 300});
    render(5 * TickFrames);
    stream->reset();
    EXPECT_EQ(state(), StreamState::Running);
    render(290 * TickFrames);
    EXPECT_EQ(count(Notification::Done), 0);
    const auto later = render(20 * TickFrames);
    // On the program a reset selects: the channels' settings went with the reset.
    EXPECT_GT(peak(later, 0, later.size() / 2), 1000) << "the rest of the buffer plays on";
}

TEST_F(StreamStates, RunningCloseEndsItWithCloseAlone)
{
    run({0, 100});
    render(5 * TickFrames);
    stream->stop();
    stream->reset();
    stream->close();
    EXPECT_EQ(state(), StreamState::Closed) << "offline, nothing is left to be heard";
    render(5 * TickFrames);
    EXPECT_EQ(log.received, (std::vector<Notification>{Notification::Open, Notification::Position,
                                                       Notification::Done, Notification::Close}));
    EXPECT_FALSE(stream->restart()) << "a closed stream takes no call";
    stream.reset();
}

// A stop of held notes through the reverb, with the jingle's pad among them: the output falls
// below -60 dB of its peak at once, with a fade and no click, and stays there: what a single
// reset leaves in the reverb is not heard afterwards.
TEST_F(StreamStates, RunningStopIsSilentSoonAndStaysSilentWhateverTheReverbHolds)
{
    struct Case {
        std::uint8_t program, reverb;
    };
    for (const Case c : {Case{94, 0}, Case{89, 0}, Case{16, 0}, Case{48, 127}, Case{19, 64}}) {
        SCOPED_TRACE(testing::Message()
                     << "program " << int(c.program) << ", reverb " << int(c.reverb));
        stream = output->open(0, &log);
        ASSERT_TRUE(stream);
        stream->reset();
        stream->setTimeDivision(50);
        StreamBuilder b = tonePreamble(c.program, true);
        b.add(0, 0xB0, 91, c.reverb).add(0, 0xB0, 93, 127 - c.reverb);
        b.add(0, 0x90, 48, 127).add(0, 0x90, 55, 127).add(0, 0x90, 60, 127);
        b.add(30, 0x90, 48, 0).add(0, 0x90, 55, 0).add(1000, 0x90, 72, 127);
        ASSERT_TRUE(stream->queue(b.data(), b.size()));
        ASSERT_TRUE(stream->restart());
        auto audio = render(50 * TickFrames);
        const std::size_t stopFrame = audio.size() / 2;
        const int loudest = peak(audio, 0, stopFrame);
        stream->stop();
        stream->reset();
        stream->close();
        const auto after = render(44100 / 2);
        audio.insert(audio.end(), after.begin(), after.end());
        const std::size_t silent = silentFrom(audio, stopFrame, loudest / 1000);
        const double ms = double(silent - stopFrame) * 1000.0 / 44100;
        EXPECT_LT(ms, 20.0) << "not silent soon after the stop";
        EXPECT_GT(ms, 2.0) << "a cut, not a fade";
        EXPECT_LE(largestStep(audio, stopFrame, silent + Block),
                  largestStep(audio, stopFrame - 4410, stopFrame))
            << "a click";
        stream.reset();
        render(300 * Block);
    }
}
