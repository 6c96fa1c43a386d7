// The stream-event layout that the tone generator writes and the output layer reads.

#include <midiout/MidiMessages.h>

#include <gtest/gtest.h>

#include <array>

using midiout::StreamEvent;

TEST(StreamEvent, IsThreeLittleEndianWordsBothWays)
{
    // Delta 0x012345, a note on of key 60 at velocity 100 on channel 3, reporting when played.
    const StreamEvent event = StreamEvent::shortMessage(
        0x012345, midiout::StatusByte(midiout::NoteOnStatus, 3), 60, 100, true);
    std::array<std::uint8_t, StreamEvent::Size> bytes{};
    event.encode(bytes.data());
    const std::array<std::uint8_t, StreamEvent::Size> expected{0x45, 0x23, 0x01, 0x00, 0x00, 0x00,
                                                               0x00, 0x00, 0x93, 0x3C, 0x64, 0x40};
    EXPECT_EQ(bytes, expected);

    const StreamEvent back = StreamEvent::decode(bytes.data());
    EXPECT_EQ(back, event);
    EXPECT_EQ(back.status(), 0x93);
    EXPECT_EQ(back.data1(), 60);
    EXPECT_EQ(back.data2(), 100);
    EXPECT_TRUE(back.hasCallback());
    EXPECT_TRUE(back.isShortMessage());
}

TEST(StreamEvent, OnlyTypeZeroIsAShortMessage)
{
    // Type 1 in bits 24..29; the callback flag (bit 30) is no part of the type.
    const std::array<std::uint8_t, StreamEvent::Size> typed{0, 0, 0,    0,  0,   0,
                                                            0, 0, 0x90, 60, 100, 0x41};
    EXPECT_FALSE(StreamEvent::decode(typed.data()).isShortMessage());
    EXPECT_TRUE(StreamEvent::decode(typed.data()).hasCallback());
    const std::array<std::uint8_t, StreamEvent::Size> plain{0, 0, 0,    0,  0,   0,
                                                            0, 0, 0x90, 60, 100, 0x80};
    EXPECT_TRUE(StreamEvent::decode(plain.data()).isShortMessage());
    EXPECT_FALSE(StreamEvent::decode(plain.data()).hasCallback());
}
