#pragma once

// The play-string language: text of comma-separated tokens (instrument changes, note names with
// octaves, raw note numbers, each with an optional step and length) turned into a sorted event
// list.

#include "NoteEvent.h"

#include <QByteArray>

#include <cstdint>

namespace midigen
{

// The settings of the tone generator that the parser reads.
struct ParseSettings {
    std::int32_t octave = 4;      // starting octave, 0..10
    std::uint32_t duration = 50;  // default note length in ticks
    std::uint8_t instrument = 0;  // starting instrument ordinal, 0..174
    std::uint8_t playChannel = 0; // channel of the play request, 0..15
};

// Appends the note events of text to list (expected empty), sorts it with SortEvents and
// returns the bend-allowed flag. Never fails: tokens that break a rule add nothing.
bool ParsePlayString(const QByteArray &text, const ParseSettings &settings, EventList &list);

// The semitone of a note name such as "C", "F#" or "B-" looked up in the note table, or -1.
std::int32_t LookupNoteName(const QByteArray &name);

// Order of the sort: negative when a goes first, positive when b goes first, 0 when equal.
std::int32_t CompareEvents(const NoteEvent &a, const NoteEvent &b);

// Sorts list in place with the quicksort whose order among equal events the stream relies on.
void SortEvents(EventList &list);

} // namespace midigen
