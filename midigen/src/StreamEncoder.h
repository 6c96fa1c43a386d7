#pragma once

// The stream encoder: an event list and the settings of a play request turned into a stream
// buffer of 12-byte MIDI stream events, behind a preamble of controller messages that carries
// the settings. Computation over memory only; the output is fixed byte for byte.

#include "NoteEvent.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace midigen
{

// A stream buffer never grows past this many bytes (so it holds at most 5,461 events).
inline constexpr std::size_t MaxStreamBytes = 65535;

// Stream events in playing order, a multiple of 12 bytes.
using StreamBuffer = std::vector<std::uint8_t>;

// The settings the encoder reads, within the ranges of the tone generator's properties (the
// encoder does not clamp them), and the channel of the play request.
struct EncodeSettings {
    std::int32_t volume = 100;     // 0..100 percent
    std::int32_t pan = 0;          // -100..100
    std::int32_t reverb = 0;       // 0..100 percent
    std::int32_t chorus = 0;       // 0..100 percent
    bool sustain = false;          // pedal held for the whole stream
    std::int32_t modulation = 0;   // 0..100 percent
    std::int32_t pitchBend = 0;    // -120..120 tenths of a semitone
    std::int32_t pbDelay = 0;      // 0..100 percent
    std::int32_t pbDuration = 100; // 0..100 percent
    std::uint8_t instrument = 0;   // 0..174, the opening program when the list has none first
    std::uint8_t playChannel = 0;  // 0..15
};

// Appends the fifteen-event preamble and the encoded list to buffer, in list order; the
// pitch-bend ramp is added only when bendAllowed is true and pitchBend is not 0. Events that
// would take the buffer past MaxStreamBytes are dropped; the rest of the list is still walked.
void EncodeStream(const EventList &list, const EncodeSettings &settings, bool bendAllowed,
                  StreamBuffer &buffer);
// The same into a new buffer.
StreamBuffer EncodeStream(const EventList &list, const EncodeSettings &settings, bool bendAllowed);

// Appends one stream event (12 bytes); false when it was dropped because the buffer would pass
// MaxStreamBytes or no memory was left.
bool AppendEvent(StreamBuffer &buffer, std::uint32_t delta, std::uint32_t eventWord);

} // namespace midigen
