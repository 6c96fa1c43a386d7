// The Standard MIDI File writer of the tone generator: delta times as the file format's own
// examples write them, and the stream buffers it refuses rather than write a broken file.

#include "StandardMidiFile.h"

#include <midiout/MidiMessages.h>

#include <gtest/gtest.h>

#include <utility>

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes streamOf(std::initializer_list<midiout::StreamEvent> events)
{
    Bytes buffer(events.size() * midiout::StreamEvent::Size);
    std::size_t at = 0;
    for (const midiout::StreamEvent &event : events) {
        event.encode(&buffer[at]);
        at += midiout::StreamEvent::Size;
    }
    return buffer;
}

} // namespace

TEST(MidiFile, DeltaTimesAreVariableLengthQuantities)
{
    // The examples of the file format's description.
    const std::pair<std::uint32_t, Bytes> cases[] = {
        {0x00000000, {0x00}},
        {0x00000040, {0x40}},
        {0x0000007F, {0x7F}},
        {0x00000080, {0x81, 0x00}},
        {0x00002000, {0xC0, 0x00}},
        {0x00003FFF, {0xFF, 0x7F}},
        {0x00004000, {0x81, 0x80, 0x00}},
        {0x00100000, {0xC0, 0x80, 0x00}},
        {0x001FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x00200000, {0x81, 0x80, 0x80, 0x00}},
        {0x08000000, {0xC0, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto &[value, expected] : cases) {
        Bytes out;
        midigen::AppendVariableLength(out, value);
        EXPECT_EQ(out, expected) << std::hex << value;
    }
}

TEST(MidiFile, RefusesWhatAFileCannotHold)
{
    const auto note = midiout::StreamEvent::shortMessage(0, 0x90, 60, 127);
    Bytes partial = streamOf({note});
    partial.pop_back();
    const Bytes cases[] = {
        partial,
        streamOf({note, midiout::StreamEvent::shortMessage(0x10000000, 0x90, 60, 0)}),
        streamOf({midiout::StreamEvent::shortMessage(0, 0x45, 60, 127)}),    // a data byte
        streamOf({midiout::StreamEvent::shortMessage(0, 0xF0, 0x7E, 0x7F)}), // system exclusive
        streamOf({midiout::StreamEvent::shortMessage(0, 0x90, 0x80, 127)}),
        streamOf({midiout::StreamEvent::shortMessage(0, 0xB0, 7, 0xFF)}),
        streamOf({{0, 0, 0x01000090}}), // an event type other than a short message
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_THROW(midigen::StandardMidiFile(cases[i]), midigen::FileFormatError) << "case " << i;
    // The largest delta still fits, in four bytes.
    const Bytes file = midigen::StandardMidiFile(
        streamOf({midiout::StreamEvent::shortMessage(0x0FFFFFFF, 0xC3, 5, 0)}));
    const Bytes track(file.begin() + 22, file.end());
    EXPECT_EQ(track, (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xC3, 0x05, 0x00, 0xFF, 0x2F, 0x00}));
}
