#pragma once

// A Standard MIDI File of one stream buffer: what a pass of the stream plays, as a file that
// other programs read.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace midigen
{

// Ticks per quarter note of the files written here. No tempo event is written, so the default
// tempo of 500,000 us per quarter note applies and one tick is 10 ms, as in the stream.
inline constexpr std::uint16_t FileDivision = 50;
// The longest delta time a file can hold: a variable-length quantity of four bytes.
inline constexpr std::uint32_t MaxFileDelta = 0x0FFFFFFF;

// A stream buffer that cannot be written as a file. The message says why.
class FileFormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Appends value as a variable-length quantity: seven bits a byte, most significant first, the
// high bit set on every byte but the last. value must not exceed MaxFileDelta.
void AppendVariableLength(std::vector<std::uint8_t> &out, std::uint32_t value);

// A format-0 file (one track, division FileDivision) holding every event of streamBuffer
// (12-byte stream events) in buffer order with its delta time, then the end of the track.
// Every event is written with its status byte. Throws FileFormatError when the buffer is not a
// whole number of events, an event is not a channel message (or has a data byte above 7F), or a
// delta exceeds MaxFileDelta.
std::vector<std::uint8_t> StandardMidiFile(std::span<const std::uint8_t> streamBuffer);

} // namespace midigen
