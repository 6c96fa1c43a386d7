// The scheduling shared by every engine, driven tick by tick without a synthesizer.

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

class Sink : public midiout::EventSink
{
public:
    std::vector<Handed> handed;
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint64_t tick) override
    {
        handed.push_back({status, data1, data2, tick});
    }
};

class PlayerTest : public testing::Test
{
protected:
    NotificationLog log;
    StreamPlayer player{&log};
    Sink sink;

    // Plays n ticks of run and delivers the notifications.
    void play(std::uint64_t run, int n)
    {
        for (int i = 0; i < n; ++i)
            player.playNextTick(run, sink);
        pump();
    }
};

} // namespace

TEST_F(PlayerTest, HandsOverEventsAtTheirTicksInBufferOrder)
{
    StreamBuilder b;
    b.add(0, 0xB0, 121, 0, true).add(0, 0xB0, 101, 0).add(0, 0xB0, 100, 0).add(0, 0xC0, 115);
    b.add(3, 0x90, 60, 127).add(2, 0x90, 60, 0).add(0, 0xE0, 0, 64);
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    const auto run = player.start();
    ASSERT_TRUE(run);
    play(*run, 4);
    EXPECT_EQ(sink.handed.size(), 5u); // nothing of tick 5 yet
    EXPECT_EQ(log.received, std::vector<Notification>{Notification::Position});
    play(*run, 2);
    const std::vector<Handed> expected{{0xB0, 121, 0, 0}, {0xB0, 101, 0, 0},  {0xB0, 100, 0, 0},
                                       {0xC0, 115, 0, 0}, {0x90, 60, 127, 3}, {0x90, 60, 0, 5},
                                       {0xE0, 0, 64, 5}};
    EXPECT_EQ(sink.handed, expected);
    EXPECT_EQ(log.received,
              (std::vector<Notification>{Notification::Position, Notification::Done}));
}

TEST_F(PlayerTest, PassQueuedInTimeStartsAtTheTickAfterThePreviousPass)
{
    StreamBuilder b;
    b.add(0, 0xB0, 121, 0, true).add(4, 0x90, 60, 100).add(6, 0x90, 60, 0);
    log.onNotification = [&](Notification n) {
        if (n == Notification::Done && log.count(Notification::Done) < 3)
            player.queue(b.data(), b.size());
    };
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    const auto run = *player.start();
    for (int tick = 0; tick < 40; ++tick)
        play(run, 1); // delivers Done before the next tick, as a prompt receiver does
    ASSERT_EQ(sink.handed.size(), 9u);
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(sink.handed[3 * pass].tick, 11u * pass);
        EXPECT_EQ(sink.handed[3 * pass + 1].tick, 11u * pass + 4);
        EXPECT_EQ(sink.handed[3 * pass + 2].tick, 11u * pass + 10);
    }
    EXPECT_EQ(log.count(Notification::Position), 3);
    EXPECT_EQ(log.count(Notification::Done), 3);
}

TEST_F(PlayerTest, PassQueuedLateStartsAtTheNextTick)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100).add(2, 0x90, 60, 0);
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    const auto run = *player.start();
    play(run, 3 + 5); // the pass ends at tick 2; ticks 3..7 pass with nothing queued
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    play(run, 3);
    ASSERT_EQ(sink.handed.size(), 4u);
    EXPECT_EQ(sink.handed[2].tick, 8u);
    EXPECT_EQ(sink.handed[3].tick, 10u);
}

TEST_F(PlayerTest, StopReturnsTheBufferAndEndsTheRun)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100, true).add(100, 0x90, 60, 0);
    player.stop();
    pump();
    EXPECT_TRUE(log.received.empty()) << "no Done when nothing is queued";

    ASSERT_TRUE(player.queue(b.data(), b.size()));
    const auto run = *player.start();
    play(run, 2);
    player.stop();
    pump();
    EXPECT_EQ(log.received,
              (std::vector<Notification>{Notification::Position, Notification::Done}));
    EXPECT_FALSE(player.playNextTick(run, sink)) << "a stopped run plays nothing more";

    // A fresh start begins at tick 0 again.
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    const auto again = player.start();
    ASSERT_TRUE(again);
    EXPECT_NE(*again, run);
    EXPECT_FALSE(player.start()) << "already running";
    EXPECT_EQ(player.playNextTick(*again, sink), 0u);
    EXPECT_EQ(sink.handed.size(), 2u);
}

TEST_F(PlayerTest, RefusesBadBuffersAndNothingFollowsClose)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100, true).add(1, 0x90, 60, 0);
    EXPECT_FALSE(player.queue(b.data(), 13));
    EXPECT_FALSE(player.queue(b.data(), 0));
    EXPECT_FALSE(player.queue(nullptr, 12));
    EXPECT_FALSE(player.setTimeDivision(0));
    EXPECT_EQ(player.timeDivision(), StreamPlayer::DefaultTimeDivision);
    ASSERT_TRUE(player.setTimeDivision(50));
    EXPECT_DOUBLE_EQ(player.tickFrames(44100), 441.0);
    ASSERT_TRUE(player.queue(b.data(), b.size()));
    EXPECT_FALSE(player.queue(b.data(), b.size())) << "a buffer is already queued";

    const auto run = *player.start();
    EXPECT_TRUE(player.close());
    EXPECT_FALSE(player.playNextTick(run, sink));
    player.stop();
    EXPECT_FALSE(player.queue(b.data(), b.size()));
    EXPECT_FALSE(player.start());
    pump();
    EXPECT_TRUE(log.received.empty());
    EXPECT_TRUE(sink.handed.empty());
}

TEST_F(PlayerTest, OtherEventTypesKeepTheirTimeButPlayNothing)
{
    StreamBuilder b;
    b.add(0, 0x90, 60, 100);
    b.add(2, 0x20, 0xA1, 0x07); // followed by type 1 in its top byte below
    b.add(1, 0x90, 60, 0);
    std::vector<std::uint8_t> bytes = b.bytes();
    bytes[12 + 11] = 0x01; // a tempo event, not a short message
    ASSERT_TRUE(player.queue(bytes.data(), bytes.size()));
    play(*player.start(), 4);
    const std::vector<Handed> expected{{0x90, 60, 100, 0}, {0x90, 60, 0, 3}};
    EXPECT_EQ(sink.handed, expected);
}
