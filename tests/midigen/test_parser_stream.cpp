// Play strings turned into the stream buffer of a tone generator.

#include "BackupJingle.h"
#include "PlayStringParser.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace
{

struct Message {
    std::uint32_t delta;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

std::vector<Message> eventsOf(const std::vector<std::uint8_t> &buffer)
{
    using midiout::StreamEvent;
    std::vector<Message> events;
    for (std::size_t at = 0; at + StreamEvent::Size <= buffer.size(); at += StreamEvent::Size) {
        const StreamEvent event = StreamEvent::decode(&buffer[at]);
        events.push_back({event.delta, event.status(), event.data1(), event.data2()});
    }
    return events;
}

} // namespace

// The stream a play request of the backup run assembles: the parser's list and flag, under the
// component's settings, handed to the encoder.
TEST(PlayStringStream, JingleOfTheBackupRun)
{
    TMidiGen generator;
    noggix::applyJingleSettings(generator);
    midigen::EventList list;
    const bool bendAllowed =
        midigen::ParsePlayString(noggix::BackupJingle, midigen::ParseSettingsOf(generator), list);
    const midigen::StreamBuffer buffer =
        midigen::EncodeStream(list, midigen::EncodeSettingsOf(generator), bendAllowed);

    ASSERT_EQ(buffer.size(), 348u);
    const std::vector<Message> events = eventsOf(buffer);
    ASSERT_EQ(events.size(), 29u);
    for (std::size_t i = 0; i < 15; ++i)
        EXPECT_EQ(events[i].delta, 0u) << "preamble event " << i;
    EXPECT_EQ(events[9].data2, 127) << "modulation";
    EXPECT_EQ(events[12].data2, 127) << "sustain";

    const struct {
        std::uint32_t delta;
        std::uint8_t status;
        std::uint8_t note;
        std::uint8_t velocity;
    } expected[] = {
        {0, 0xC0, 94, 0},    {0, 0x90, 43, 127},  {100, 0xC0, 31, 0},  {50, 0x90, 55, 127},
        {50, 0x90, 59, 127}, {50, 0x90, 55, 127}, {50, 0x90, 43, 127}, {50, 0x90, 50, 127},
        {50, 0x90, 43, 0},   {150, 0x90, 55, 0},  {50, 0x90, 59, 0},   {50, 0x90, 55, 0},
        {50, 0x90, 43, 0},   {50, 0x90, 50, 0},
    };
    for (std::size_t i = 0; i < 14; ++i) {
        const Message &e = events[15 + i];
        EXPECT_EQ(e.delta, expected[i].delta) << "event " << 15 + i;
        EXPECT_EQ(e.status, expected[i].status) << "event " << 15 + i;
        EXPECT_EQ(e.data1, expected[i].note) << "event " << 15 + i;
        EXPECT_EQ(e.data2, expected[i].velocity) << "event " << 15 + i;
    }
}
