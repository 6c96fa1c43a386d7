#pragma once

// Reading a stream buffer back in tests: events as hexadecimal lines (as the tool prints them)
// or as delta and event word.

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace encodingtest
{

struct Event {
    std::uint32_t delta;
    std::uint32_t streamId;
    std::uint32_t word;

    std::uint8_t status() const { return std::uint8_t(word); }
    std::uint8_t data1() const { return std::uint8_t(word >> 8); }
    std::uint8_t data2() const { return std::uint8_t(word >> 16); }
    // The 14-bit value of a pitch-bend event.
    int bend() const { return data1() | data2() << 7; }
};

// Assembles the stream buffer that PlayNote(note) would play, without a device.
inline void assembleNote(TMidiGen &generator, qint32 note)
{
    generator.releaseStreamBuffer();
    generator.AssembleStream(generator.NoteList(note), true);
}

// Assembles the stream buffer that PlayString(text) would play (none for an empty list);
// returns whether the list held events.
inline bool assembleString(TMidiGen &generator, const QByteArray &text)
{
    generator.releaseStreamBuffer();
    midigen::EventList list;
    const bool bendAllowed = generator.ParsePlayString(text, list);
    if (list.empty())
        return false;
    generator.AssembleStream(std::move(list), bendAllowed);
    return true;
}

inline std::vector<Event> events(const TMidiGen &generator)
{
    using midiout::StreamEvent;
    const std::vector<std::uint8_t> &buffer = generator.streamBuffer();
    std::vector<Event> result;
    for (std::size_t i = 0; i + StreamEvent::Size <= buffer.size(); i += StreamEvent::Size) {
        const StreamEvent event = StreamEvent::decode(&buffer[i]);
        result.push_back({event.delta, event.streamId, event.event});
    }
    return result;
}

// Each event's 12 bytes in buffer order, "00 00 00 00 ..." upper case.
inline std::vector<std::string> hexLines(const TMidiGen &generator)
{
    const std::vector<std::uint8_t> &buffer = generator.streamBuffer();
    std::vector<std::string> lines;
    constexpr std::size_t Size = midiout::StreamEvent::Size;
    for (std::size_t i = 0; i + Size <= buffer.size(); i += Size) {
        std::string line;
        for (std::size_t j = 0; j < Size; ++j) {
            char byte[4];
            std::snprintf(byte, sizeof byte, j ? " %02X" : "%02X", buffer[i + j]);
            line += byte;
        }
        lines.push_back(line);
    }
    return lines;
}

// The events behind the fifteen of the preamble.
inline std::vector<Event> body(const TMidiGen &generator)
{
    std::vector<Event> all = events(generator);
    return {all.begin() + std::min<std::size_t>(15, all.size()), all.end()};
}

} // namespace encodingtest
