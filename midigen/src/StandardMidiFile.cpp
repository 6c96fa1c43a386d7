#include "StandardMidiFile.h"

#include <midiout/MidiMessages.h>

#include <string>

namespace midigen
{

namespace
{

using midiout::StreamEvent;
using midiout::StreamEvents;

constexpr std::uint8_t ChannelPressureStatus = 0xD0;
constexpr std::uint8_t SystemStatus = 0xF0;

void appendBigEndian(std::vector<std::uint8_t> &out, std::uint32_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(value >> shift));
}

// Data bytes that follow a channel message's status: one for program change and channel
// pressure, two for the others.
int dataBytes(std::uint8_t status)
{
    const std::uint8_t kind = status & midiout::StatusKindMask;
    return kind == midiout::ProgramChangeStatus || kind == ChannelPressureStatus ? 1 : 2;
}

std::string hexByte(std::uint8_t byte)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    return {Hex[byte >> 4], Hex[byte & 0x0F]};
}

} // namespace

void AppendVariableLength(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    int groups = 1;
    while (groups < 4 && value >> (7 * groups) != 0)
        ++groups;
    for (int group = groups - 1; group > 0; --group)
        out.push_back(std::uint8_t(0x80 | ((value >> (7 * group)) & 0x7F)));
    out.push_back(std::uint8_t(value & 0x7F));
}

std::vector<std::uint8_t> StandardMidiFile(std::span<const std::uint8_t> streamBuffer)
{
    if (streamBuffer.size() % StreamEvent::Size != 0)
        throw FileFormatError("the stream buffer is not a whole number of events");

    std::vector<std::uint8_t> track;
    track.reserve(streamBuffer.size() / 2 + 4);
    for (const StreamEvents::Entry &entry :
         StreamEvents(streamBuffer.data(), streamBuffer.size())) {
        const std::size_t index = entry.index;
        const StreamEvent &event = entry.event;
        const std::uint32_t delta = event.delta;
        const std::uint8_t status = event.status();
        if (delta > MaxFileDelta)
            throw FileFormatError("event " + std::to_string(index) + " follows the one before by " +
                                  std::to_string(delta) +
                                  " ticks; a Standard MIDI File holds at most " +
                                  std::to_string(MaxFileDelta));
        if (!event.isShortMessage() || status < midiout::NoteOffStatus || status >= SystemStatus)
            throw FileFormatError("event " + std::to_string(index) + " has status " +
                                  hexByte(status) + ", which is no channel message");
        AppendVariableLength(track, delta);
        track.push_back(status);
        for (int i = 1; i <= dataBytes(status); ++i) {
            const std::uint8_t data = i == 1 ? event.data1() : event.data2();
            if (data > midiout::DataByteMask)
                throw FileFormatError("event " + std::to_string(index) + " has data byte " +
                                      hexByte(data) + ", above 7F");
            track.push_back(data);
        }
    }
    // End of track, at once after the last event.
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd'};
    appendBigEndian(file, 6, 4);
    appendBigEndian(file, 0, 2); // format 0: one track
    appendBigEndian(file, 1, 2);
    appendBigEndian(file, FileDivision, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    appendBigEndian(file, std::uint32_t(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace midigen
