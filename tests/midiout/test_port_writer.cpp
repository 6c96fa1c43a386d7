// The graph port's cycle writer, driven cycle by cycle without a graph: each event at its tick's
// frame across cycle boundaries, and the reset that ends a stream sent in two cycles in a row,
// once only before a new stream's first events.

#include "PortWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace miditest;
using midiout::PlayState;
using midiout::StreamState;

namespace
{

constexpr std::uint32_t Quantum = 256;
constexpr double Rate = 48000;
constexpr std::size_t ResetSize = 64; // 4 controllers on each of 16 channels

struct Written {
    std::uint64_t frame;
    std::vector<std::uint8_t> bytes;
};

class PortWriterTest : public testing::Test
{
protected:
    // A stream of one note on channel 0: on at tick 0, off at tick 3 (10 ms ticks), after the
    // reset that the tone generator asks for as it opens a stream.
    PlayState running(std::uint32_t stream)
    {
        PlayState state;
        state.resets = 1;
        state.state = StreamState::Running;
        state.stream = stream;
        state.data = note.data();
        state.length = note.size();
        state.buffer = stream;
        state.tickMicroseconds = 10000;
        return state;
    }
    // Runs n cycles of `quantum` frames at `rate`; what each wrote.
    std::vector<std::vector<Written>> cycles(int n, std::uint32_t quantum = Quantum,
                                             double rate = Rate)
    {
        std::vector<std::vector<Written>> all;
        for (int i = 0; i < n; ++i) {
            std::vector<Written> cycle;
            writer.cycle(frame, quantum, rate,
                         [&](std::uint32_t offset, const std::uint8_t *bytes, std::size_t length) {
                             cycle.push_back({frame + offset, {bytes, bytes + length}});
                         });
            frame += quantum;
            writer.finishCycle(frame);
            all.push_back(cycle);
        }
        return all;
    }
    static bool isReset(const std::vector<Written> &cycle, std::size_t from = 0)
    {
        if (cycle.size() < from + ResetSize)
            return false;
        for (std::size_t i = 0; i < ResetSize; ++i) {
            const auto &bytes = cycle[from + i].bytes;
            if (bytes.size() != 3 || bytes[0] != 0xB0 + i / 4 || bytes[2] != 0)
                return false;
        }
        return true;
    }

    StreamBuilder note = StreamBuilder().note(0, 0, 60, 3);
    midiout::EngineCrossing crossing;
    midiout::PortWriter writer{crossing};
    std::uint64_t frame = 1000; // the graph's clock does not start at 0
};

} // namespace

TEST_F(PortWriterTest, PutsEachEventAtItsTicksFrameAndEndsWithTheResetInTwoCyclesInARow)
{
    crossing.played.write(running(1));
    auto written = cycles(8); // 3 ticks are 1440 frames: the note off is in the 6th cycle
    ASSERT_TRUE(isReset(written[0])) << "the reset comes before the first note";
    ASSERT_EQ(written[0].size(), ResetSize + 1);
    const std::uint64_t on = written[0].back().frame;
    EXPECT_EQ(written[0].back().bytes, (std::vector<std::uint8_t>{0x90, 60, 127}));
    std::vector<Written> rest;
    for (std::size_t i = 1; i < written.size(); ++i)
        rest.insert(rest.end(), written[i].begin(), written[i].end());
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].bytes, (std::vector<std::uint8_t>{0x90, 60, 0}));
    EXPECT_EQ(rest[0].frame - on, 3 * 480u);

    // The stream closes: the reset goes in the next cycle and the one after, and the closing
    // stream is woken once the second has left, not before.
    PlayState closing = running(1);
    closing.state = StreamState::Closing;
    closing.wakeWhenHeard = frame + 1;
    crossing.played.write(closing);
    written = cycles(1);
    EXPECT_TRUE(isReset(written[0]));
    EXPECT_LT(crossing.heard.load(), closing.wakeWhenHeard);
    written = cycles(3);
    EXPECT_TRUE(isReset(written[0]));
    EXPECT_EQ(written[0].size(), ResetSize);
    EXPECT_GE(crossing.heard.load(), closing.wakeWhenHeard);
    EXPECT_TRUE(written[1].empty() && written[2].empty()) << "the reset goes twice, no more";
}

TEST_F(PortWriterTest, SendsTheResetOnceBeforeANewStreamThatFollowsOneThatPlayed)
{
    crossing.played.write(running(1));
    cycles(2);
    crossing.played.write(running(2)); // the next request cuts the first
    const auto written = cycles(3);
    ASSERT_TRUE(isReset(written[0]));
    EXPECT_EQ(written[0].size(), ResetSize + 1); // the reset, then the new note on
    EXPECT_FALSE(isReset(written[1])) << "a second reset would end the new stream's note";
}

TEST_F(PortWriterTest, PutsEveryTickOnItsFrameAtEveryPhaseOfTheCycle)
{
    // An event on every tick of 64: their frames fall at every phase of the cycle, and on its
    // boundaries, at 48 kHz and at 44.1 kHz, in cycles of 256 and of 1000 frames.
    note = StreamBuilder();
    for (std::uint64_t tick = 0; tick < 64; tick += 2)
        note.note(tick, 0, 60, 1);
    for (const double rate : {48000.0, 44100.0})
        for (const std::uint32_t quantum : {256u, 1000u}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, cycles of " << quantum);
            crossing.played.write(running(quantum + unsigned(rate)));
            std::vector<Written> events;
            for (const auto &cycle : cycles(int(64 * rate / 100 / quantum) + 2, quantum, rate))
                for (const Written &written : cycle)
                    if ((written.bytes[0] & 0xF0) == 0x90)
                        events.push_back(written);
            ASSERT_EQ(events.size(), 64u);
            for (std::size_t tick = 0; tick < events.size(); ++tick)
                EXPECT_EQ(events[tick].frame - events[0].frame, tick * rate / 100) << tick;
        }
}
