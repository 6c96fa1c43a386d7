// The scheduling of a stream's buffer, driven tick by tick without a synthesizer.

#include "StreamPlayer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace miditest;
using midiout::StreamPlayer;

namespace
{

struct Handed {
    std::uint8_t status, data1, data2;
    std::uint64_t tick;
    bool operator==(const Handed &) const = default;
};

// What the player handed over, with the tick it played.
struct Sink {
    std::vector<Handed> handed;
    std::vector<std::pair<Notification, std::uint32_t>> notified;
    int count(Notification n) const
    {
        return int(std::count_if(notified.begin(), notified.end(),
                                 [n](const auto &e) { return e.first == n; }));
    }
};

class PlayerTest : public testing::Test
{
protected:
    StreamPlayer player;
    Sink sink;

    void play(int n)
    {
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tick = player.nextTick();
            player.playNextTick(
                [&](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
                    sink.handed.push_back({status, data1, data2, tick});
                },
                [&](Notification n, std::uint32_t buffer) {
                    sink.notified.emplace_back(n, buffer);
                });
        }
    }
};

} // namespace

TEST_F(PlayerTest, HandsOverEventsAtTheirTicksInBufferOrder)
{
    StreamBuilder b;
    b.add(0, 0xB0, 121, 0, true).add(0, 0xB0, 101, 0).add(0, 0xB0, 100, 0).add(0, 0xC0, 115);
    b.add(3, 0x90, 60, 127).add(2, 0x90, 60, 0).add(0, 0xE0, 0, 64);
    player.queue(b.data(), b.size(), 7);
    player.start();
    play(4);
    EXPECT_EQ(sink.handed.size(), 5u); // nothing of tick 5 yet
    EXPECT_EQ(sink.notified,
              (std::vector<std::pair<Notification, std::uint32_t>>{{Notification::Position, 7}}));
    play(2);
    const std::vector<Handed> expected{{0xB0, 121, 0, 0}, {0xB0, 101, 0, 0},  {0xB0, 100, 0, 0},
                                       {0xC0, 115, 0, 0}, {0x90, 60, 127, 3}, {0x90, 60, 0, 5},
                                       {0xE0, 0, 64, 5}};
    EXPECT_EQ(sink.handed, expected);
    EXPECT_EQ(sink.notified, (std::vector<std::pair<Notification, std::uint32_t>>{
                                 {Notification::Position, 7}, {Notification::Done, 7}}));
}

TEST_F(PlayerTest, PassQueuedInTimeStartsAtTheTickAfterThePreviousPass)
{
    StreamBuilder b;
    b.add(0, 0xB0, 121, 0, true).add(4, 0x90, 60, 100).add(6, 0x90, 60, 0);
    player.queue(b.data(), b.size(), 1);
    player.start();
    int queuedAgain = 0;
    for (int tick = 0; tick < 40; ++tick) {
        play(1);
        // Queued again at once after each Done, as a prompt receiver does.
        const int done = sink.count(Notification::Done);
        if (done > queuedAgain && done < 3) {
            queuedAgain = done;
            player.queue(b.data(), b.size(), std::uint32_t(done + 1));
        }
    }
    ASSERT_EQ(sink.handed.size(), 9u);
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(testing::Message() << "pass " << pass);
        EXPECT_EQ(sink.handed[3 * pass].tick, 11u * pass);
        EXPECT_EQ(sink.handed[3 * pass + 1].tick, 11u * pass + 4);
        EXPECT_EQ(sink.handed[3 * pass + 2].tick, 11u * pass + 10);
    }
    EXPECT_EQ(sink.count(Notification::Position), 3);
    EXPECT_EQ(sink.count(Notification::Done), 3);
}

TEST_F(PlayerTest, PassQueuedLateStartsAtTheNextTick)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100).add(2, 0x90, 60, 0);
    player.queue(b.data(), b.size(), 1);
    player.start();
    play(3 + 5); // the pass ends at tick 2; ticks 3..7 pass with nothing queued
    player.queue(b.data(), b.size(), 2);
    play(3);
    ASSERT_EQ(sink.handed.size(), 4u);
    EXPECT_EQ(sink.handed[2].tick, 8u);
    EXPECT_EQ(sink.handed[3].tick, 10u);
}

TEST_F(PlayerTest, StopDropsTheBufferAndAFreshStartBeginsAtTickZero)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100, true).add(100, 0x90, 60, 0);
    player.queue(b.data(), b.size(), 1);
    player.start();
    play(2);
    player.stop();
    EXPECT_FALSE(player.running());
    play(200);
    EXPECT_EQ(sink.handed.size(), 1u) << "a stopped player plays nothing more";
    EXPECT_EQ(sink.count(Notification::Done), 0) << "stop() notifies nothing";

    player.queue(b.data(), b.size(), 2);
    player.start();
    EXPECT_EQ(player.nextTick(), 0u);
    play(1);
    EXPECT_EQ(sink.handed.size(), 2u);
    EXPECT_EQ(sink.handed[1].tick, 0u);
}

TEST_F(PlayerTest, OtherEventTypesKeepTheirTimeButPlayNothing)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100);
    b.add(2, 0x20, 0xA1, 0x07); // followed by type 1 in its top byte below
    b.add(1, 0x90, 60, 0);
    std::vector<std::uint8_t> bytes = b.bytes();
    bytes[12 + 11] = 0x01; // a tempo event, not a short message
    player.queue(bytes.data(), bytes.size(), 1);
    player.start();
    play(4);
    const std::vector<Handed> expected{{0x90, 60, 100, 0}, {0x90, 60, 0, 3}};
    EXPECT_EQ(sink.handed, expected);
}
