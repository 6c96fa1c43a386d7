#pragma once

// The note event and the event list that every play request of the tone generator builds and
// that the stream encoder turns into MIDI stream events. The record is the public TMGNoteEvent.

#include <midigen/CompiledRequest.h>

#include <cstdint>
#include <vector>

namespace midigen
{

using NoteEvent = TMGNoteEvent;

// Kinds of note event; the encoder skips any other value.
using NoteEventKind = TMGNoteEvent::TMGEventKind;
inline constexpr NoteEventKind ProgramChange = TMGNoteEvent::mgProgramChange;
inline constexpr NoteEventKind NoteOn = TMGNoteEvent::mgNoteOn;
inline constexpr NoteEventKind NoteOff = TMGNoteEvent::mgNoteOff;

// One list per play request, in non-decreasing time once sorted. The list owns its records; the
// stream assembler takes it over and releases them.
using EventList = std::vector<NoteEvent>;

// The list of a single note of duration ticks: a program change with instrument (0..174) unless
// playChannel is the percussion channel, then the note on at time 0 and the note off at duration
// (held at the largest time). note is limited to 0..127; a percussion instrument on a melodic
// play channel sounds on the percussion channel, its notes carrying the instrument ordinal.
EventList NoteList(std::int32_t note, std::uint8_t instrument, std::uint8_t playChannel,
                   std::uint32_t duration);

// Whether list holds a note on: only such a list plays.
bool HoldsNote(const EventList &list);

} // namespace midigen
