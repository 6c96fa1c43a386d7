// The event list of a single note, as PlayNote plays it, and what makes a list playable.

#include "NoteEvent.h"
#include <midiout/MidiMessages.h>

#include <algorithm>
#include <limits>

namespace midigen
{

EventList NoteList(std::int32_t note, std::uint8_t instrument, std::uint8_t playChannel,
                   std::uint32_t duration)
{
    using midiout::PercussionChannel;
    EventList list;
    list.reserve(3);
    std::uint8_t noteChannel = PercussionChannel;
    if (playChannel != PercussionChannel) {
        // A percussion instrument on a melodic play channel sounds on the percussion channel.
        noteChannel = instrument > 127 ? PercussionChannel : playChannel;
        list.push_back({0, ProgramChange, instrument, noteChannel});
    }
    const std::int32_t limited = std::clamp<std::int32_t>(note, 0, 127);
    // There the notes carry the percussion ordinal, which the encoder maps to its key.
    const std::int32_t value =
        (playChannel != PercussionChannel && noteChannel == PercussionChannel) ? instrument
                                                                               : limited;
    list.push_back({0, NoteOn, value, noteChannel});
    // Event times are signed 32-bit: a longer duration is held at the largest time.
    constexpr auto Int32Max = std::numeric_limits<std::int32_t>::max();
    const auto offTime = std::int32_t(std::min<std::uint32_t>(duration, Int32Max));
    list.push_back({offTime, NoteOff, value, noteChannel});
    return list;
}

bool HoldsNote(const EventList &list)
{
    return std::any_of(list.begin(), list.end(),
                       [](const NoteEvent &event) { return event.kind == NoteOn; });
}

} // namespace midigen
