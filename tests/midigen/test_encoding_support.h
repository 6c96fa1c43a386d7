#pragma once

// Encoding in tests: stream buffers built from a tone generator's settings, read back as
// hexadecimal lines (as the tool prints them) or as delta and event word.

#include "PlayStringParser.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>

#include "SettingsOf.h"
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

// A tone generator whose settings are written through its properties, and the stream buffer
// that its play requests would encode, built through the parser and the encoder as a play
// request builds it, without a device.
class Generator : public TMidiGen
{
public:
    // Appends the encoded list to the buffer, with Channel as the play channel.
    void AssembleStream(const midigen::EventList &list, bool bendAllowed)
    {
        midigen::EncodeStream(list, midigen::EncodeSettingsOf(*this), bendAllowed, buffer_);
    }
    bool AppendEvent(std::uint32_t delta, std::uint32_t eventWord)
    {
        return midigen::AppendEvent(buffer_, delta, eventWord);
    }
    const midigen::StreamBuffer &streamBuffer() const { return buffer_; }
    // Replaces what the buffer holds with a compiled stream.
    void holdStream(const QByteArray &stream) { buffer_.assign(stream.begin(), stream.end()); }
    void releaseStreamBuffer() { buffer_.clear(); }

private:
    midigen::StreamBuffer buffer_;
};

// Assembles the stream buffer that PlayNote(note) would play.
inline void assembleNote(Generator &generator, qint32 note)
{
    generator.holdStream(generator.CompileNote(note).Stream());
}

// Assembles the stream buffer that PlayString(text) would play (none for an empty list);
// returns whether the list held events.
inline bool assembleString(Generator &generator, const QByteArray &text)
{
    generator.releaseStreamBuffer();
    midigen::EventList list;
    const bool bendAllowed =
        midigen::ParsePlayString(text, midigen::ParseSettingsOf(generator), list);
    if (list.empty())
        return false;
    generator.AssembleStream(list, bendAllowed);
    return true;
}

inline std::vector<Event> events(const Generator &generator)
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
inline std::vector<std::string> hexLines(const Generator &generator)
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
inline std::vector<Event> body(const Generator &generator)
{
    std::vector<Event> all = events(generator);
    return {all.begin() + std::min<std::size_t>(15, all.size()), all.end()};
}

} // namespace encodingtest
