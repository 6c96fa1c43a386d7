#pragma once

// The note event and the event list that every play request of the tone generator builds and
// that the stream encoder turns into MIDI stream events.

#include <cstdint>
#include <vector>

namespace midigen
{

// Kinds of note event; the encoder skips any other value.
enum NoteEventKind : std::uint8_t {
    ProgramChange = 6,
    NoteOn = 8,
    NoteOff = 9,
};

struct NoteEvent {
    std::int32_t time;    // ticks of 10 ms from the start of the stream
    std::uint8_t kind;    // a NoteEventKind, or anything else (skipped)
    std::int32_t value;   // instrument ordinal (program change) or note number / percussion ordinal
    std::uint8_t channel; // 0..15; 9 is the percussion channel

    friend bool operator==(const NoteEvent &, const NoteEvent &) = default;
};

// One list per play request, in non-decreasing time once sorted. The list owns its records; the
// stream assembler takes it over and releases them.
using EventList = std::vector<NoteEvent>;

// The list of a single note of duration ticks: a program change with instrument (0..174) unless
// playChannel is the percussion channel, then the note on at time 0 and the note off at duration
// (held at the largest time). note is limited to 0..127; a percussion instrument on a melodic
// play channel sounds on the percussion channel, its notes carrying the instrument ordinal.
EventList NoteList(std::int32_t note, std::uint8_t instrument, std::uint8_t playChannel,
                   std::uint32_t duration);

} // namespace midigen
