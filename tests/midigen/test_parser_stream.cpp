// Play strings through TMidiGen::PlayString into the stream buffer.

#include "MidiGen.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace
{

struct StreamEvent {
    std::uint32_t delta;
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

std::vector<StreamEvent> eventsOf(const std::vector<std::uint8_t> &buffer)
{
    std::vector<StreamEvent> events;
    for (std::size_t at = 0; at + 12 <= buffer.size(); at += 12) {
        const std::uint32_t delta = buffer[at] | buffer[at + 1] << 8 | buffer[at + 2] << 16 |
                                    std::uint32_t(buffer[at + 3]) << 24;
        events.push_back({delta, buffer[at + 8], buffer[at + 9], buffer[at + 10]});
    }
    return events;
}

// The settings the backup run writes before its first tick.
void configureForBackupRun(TMidiGen &generator)
{
    generator.setModulation(100);
    generator.setSustain(true);
    generator.setPitchBend(0);
    generator.setDuration(400);
    generator.setLoops(1);
}

} // namespace

TEST(PlayString, JingleStreamOfTheBackupRun)
{
    TMidiGen generator;
    configureForBackupRun(generator);
    generator.PlayString("I94,G3,100;I31,50;G4,B,G,G3,D4");

    ASSERT_EQ(generator.streamBuffer().size(), 348u);
    const std::vector<StreamEvent> events = eventsOf(generator.streamBuffer());
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
        const StreamEvent &e = events[15 + i];
        EXPECT_EQ(e.delta, expected[i].delta) << "event " << 15 + i;
        EXPECT_EQ(e.status, expected[i].status) << "event " << 15 + i;
        EXPECT_EQ(e.data1, expected[i].note) << "event " << 15 + i;
        EXPECT_EQ(e.data2, expected[i].velocity) << "event " << 15 + i;
    }
}

TEST(PlayString, EmptyListAssemblesNothing)
{
    for (const char *text : {"", "   ", ",,,", "H,I200,N128", "H,\t,C"}) {
        TMidiGen generator;
        EXPECT_FALSE(generator.PlayString(text)) << text;
        EXPECT_TRUE(generator.streamBuffer().empty()) << text;
    }
}

TEST(PlayString, SettingsReachTheParser)
{
    // Octave, Instrument and Channel of the component are the parser's starting values.
    TMidiGen generator;
    generator.setOctave(2);
    generator.setInstrument(TMidiGen::mgViolin);
    generator.setChannel(TMidiGen::mgCh03);
    generator.PlayString("C");
    const std::vector<StreamEvent> events = eventsOf(generator.streamBuffer());
    ASSERT_EQ(events.size(), 18u);
    EXPECT_EQ(events[15].status, 0xC2);
    EXPECT_EQ(events[15].data1, 40);
    EXPECT_EQ(events[16].status, 0x92);
    EXPECT_EQ(events[16].data1, 24);
    EXPECT_EQ(events[17].delta, 50u) << "Duration";
}
