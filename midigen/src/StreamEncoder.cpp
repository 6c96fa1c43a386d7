// Encoding of an event list and the settings into the stream buffer: the controller preamble,
// program changes, notes, percussion keys and the pitch-bend ramp, one 12-byte stream event
// each, within the buffer's size limit.

#include "StreamEncoder.h"

#include "MidiMessages_p.h"

#include <algorithm>
#include <new>

namespace midigen
{

namespace
{

// Message kinds of the event builder; each fixes the status byte.
enum MessageKind : std::uint8_t {
    KindDataEntryHigh = 0,
    KindRpnLow = 1,
    KindRpnHigh = 2,
    KindReverb = 3,
    KindChorus = 4,
    KindSustain = 5,
    KindProgramChange = 6,
    KindResetAllControllers = 7,
    KindNote = 8,
    KindNoteAlt = 9,
    KindPitchBend = 10,
    KindVolume = 11,
    KindPan = 12,
    KindModulation = 13,
};

using midiout::PercussionChannel;
using midiout::StreamEvent;
namespace controller = midiout::controller;

std::uint8_t statusOf(std::uint8_t kind)
{
    switch (kind) {
    case KindProgramChange:
        return midiout::ProgramChangeStatus;
    case KindNote:
    case KindNoteAlt:
        return midiout::NoteOnStatus; // a note off is a note on with velocity 0
    case KindPitchBend:
        return midiout::PitchBendStatus;
    default:
        return midiout::ControlChangeStatus;
    }
}

// A data byte from an ordinal or note number: 127 above 127. Lists hold 0..127 here; a
// negative value, which no producer makes, is sent as 0 rather than as a status byte.
std::uint8_t dataByte(std::int32_t value)
{
    return std::uint8_t(std::clamp<std::int32_t>(value, 0, 127));
}

std::uint16_t dataWord(std::uint8_t first, std::uint8_t second)
{
    return std::uint16_t(first | (second << 8));
}

// Percent 0..100 as a controller value 0..127.
std::uint8_t percentToController(std::int32_t percent)
{
    return std::uint8_t(percent * 127 / 100);
}

// The building blocks of the encoder, each appending the event it makes. Percentages become
// controller values percent * 127 / 100, pan becomes pan * 63 / 100 + 64.

// The event builder: one stream event from a message kind (6 program change, 8 and 9 note on,
// 10 pitch bend, any other control change), a channel (low 4 bits used) and a 16-bit data word
// (first data byte low, second high). A dropped event is dropped silently.
void AppendMessage(StreamBuffer &buffer, std::uint32_t delta, std::uint8_t channel,
                   std::uint8_t kind, std::uint16_t data, bool callback = false)
{
    const StreamEvent event =
        StreamEvent::shortMessage(delta, midiout::StatusByte(statusOf(kind), channel),
                                  std::uint8_t(data), std::uint8_t(data >> 8), callback);
    AppendEvent(buffer, delta, event.event); // a dropped event is dropped silently
}

void EncodeProgramChange(StreamBuffer &buffer, std::uint32_t delta, std::uint8_t channel,
                         std::int32_t instrument)
{
    AppendMessage(buffer, delta, channel, KindProgramChange, dataWord(dataByte(instrument), 0));
}

void EncodeNote(StreamBuffer &buffer, std::uint32_t delta, std::uint8_t channel, std::int32_t note,
                std::uint8_t velocity)
{
    AppendMessage(buffer, delta, channel, KindNote, dataWord(dataByte(note), velocity));
}

void EncodePercussionNote(StreamBuffer &buffer, std::uint32_t delta, std::int32_t value, bool on)
{
    // A percussion ordinal 128..174 sounds key ordinal - 93, kept within the keys 35..81.
    const auto key = std::uint8_t(std::clamp<std::int64_t>(std::int64_t(value) - 93, 35, 81));
    AppendMessage(buffer, delta, PercussionChannel, KindNote, dataWord(key, on ? 127 : 0));
}

void EncodeResetAllControllers(StreamBuffer &buffer, std::uint8_t channel, bool callback)
{
    AppendMessage(buffer, 0, channel, KindResetAllControllers,
                  dataWord(controller::ResetAllControllers, 0), callback);
}

void EncodeRpnLow(StreamBuffer &buffer, std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(buffer, 0, channel, KindRpnLow, dataWord(controller::RpnLow, value));
}

void EncodeRpnHigh(StreamBuffer &buffer, std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(buffer, 0, channel, KindRpnHigh, dataWord(controller::RpnHigh, value));
}

void EncodeDataEntryHigh(StreamBuffer &buffer, std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(buffer, 0, channel, KindDataEntryHigh,
                  dataWord(controller::DataEntryHigh, value));
}

void EncodePan(StreamBuffer &buffer, std::uint8_t channel, std::int32_t pan)
{
    AppendMessage(buffer, 0, channel, KindPan,
                  dataWord(controller::Pan, std::uint8_t(pan * 63 / 100 + 64)));
}

void EncodeModulation(StreamBuffer &buffer, std::uint8_t channel, std::int32_t percent)
{
    AppendMessage(buffer, 0, channel, KindModulation,
                  dataWord(controller::Modulation, percentToController(percent)));
}

void EncodeVolume(StreamBuffer &buffer, std::uint8_t channel, std::int32_t percent)
{
    AppendMessage(buffer, 0, channel, KindVolume,
                  dataWord(controller::Volume, percentToController(percent)));
}

void EncodeSustain(StreamBuffer &buffer, std::uint8_t channel, bool on)
{
    AppendMessage(buffer, 0, channel, KindSustain, dataWord(controller::Sustain, on ? 127 : 0));
}

void EncodeReverb(StreamBuffer &buffer, std::uint8_t channel, std::int32_t percent)
{
    AppendMessage(buffer, 0, channel, KindReverb,
                  dataWord(controller::Reverb, percentToController(percent)));
}

void EncodeChorus(StreamBuffer &buffer, std::uint8_t channel, std::int32_t percent)
{
    AppendMessage(buffer, 0, channel, KindChorus,
                  dataWord(controller::Chorus, percentToController(percent)));
}

void EncodePitchBend(StreamBuffer &buffer, std::uint32_t delta, std::uint8_t channel,
                     std::int32_t value)
{
    AppendMessage(buffer, delta, channel, KindPitchBend,
                  dataWord(std::uint8_t(value & 0x7F), std::uint8_t((value >> 7) & 0x7F)));
}

// Appends the fifteen controller events that open every stream.
void EncodePreamble(StreamBuffer &buffer, const EncodeSettings &settings)
{
    const std::uint8_t p = settings.playChannel;
    // Only this first event reports when it is played: the stream has begun to sound.
    EncodeResetAllControllers(buffer, p, true);
    EncodeResetAllControllers(buffer, PercussionChannel, false);
    // Pitch-bend range (registered parameter 0) to 12 semitones, then no parameter selected.
    EncodeRpnLow(buffer, p, 0);
    EncodeRpnHigh(buffer, p, 0);
    EncodeDataEntryHigh(buffer, p, 12);
    EncodeRpnLow(buffer, p, 127);
    EncodeRpnHigh(buffer, p, 127);
    EncodePan(buffer, p, settings.pan);
    EncodePan(buffer, PercussionChannel, settings.pan);
    EncodeModulation(buffer, p, settings.modulation);
    EncodeVolume(buffer, p, settings.volume);
    EncodeVolume(buffer, PercussionChannel, settings.volume);
    EncodeSustain(buffer, p, settings.sustain);
    EncodeReverb(buffer, p, settings.reverb);
    EncodeChorus(buffer, p, settings.chorus);
}

// Appends the pitch-bend ramp that lies inside a note off's delta, on channel; returns the
// ticks it uses (0 when it adds nothing).
std::uint32_t EncodeBendRamp(StreamBuffer &buffer, std::int32_t delta, std::uint8_t channel,
                             const EncodeSettings &settings)
{
    if (delta == 0 || settings.pbDuration == 0 || settings.pbDelay == 100 ||
        settings.pitchBend == 0)
        return 0;
    // 64-bit so that very long notes do not overflow; a negative delta yields no steps.
    const std::int64_t wait = std::int64_t(delta) * settings.pbDelay / 100;
    const std::int64_t steps = (delta - wait) * settings.pbDuration / 100;
    if (steps < 1 || steps > 8191)
        return 0;
    const std::int32_t increment = (settings.pitchBend * 8191 / 120) / std::int32_t(steps);
    std::int32_t value = 8192; // centre
    for (std::int64_t k = 1; k <= steps; ++k) {
        value += increment;
        EncodePitchBend(buffer, k == 1 ? std::uint32_t(wait + 1) : 1, channel, value);
    }
    return std::uint32_t(wait + steps);
}

// Appends the stream events of one note on or note off.
void encodeNoteEvent(StreamBuffer &buffer, std::uint32_t delta, const NoteEvent &event, bool on,
                     std::uint8_t playChannel)
{
    if (event.channel == PercussionChannel && playChannel != PercussionChannel)
        EncodePercussionNote(buffer, delta, event.value, on);
    else
        EncodeNote(buffer, delta, event.channel, event.value, on ? 127 : 0);
}

} // namespace

bool AppendEvent(StreamBuffer &buffer, std::uint32_t delta, std::uint32_t eventWord)
{
    const std::size_t length = buffer.size();
    if (length + StreamEvent::Size > MaxStreamBytes)
        return false;
    try {
        // The vector grows geometrically, so appending does not copy the buffer every time.
        buffer.resize(length + StreamEvent::Size);
    } catch (const std::bad_alloc &) {
        return false; // no memory left: the event is dropped like one past the limit
    }
    StreamEvent{delta, 0, eventWord}.encode(buffer.data() + length);
    return true;
}

void EncodeStream(const EventList &list, const EncodeSettings &settings, bool bendAllowed,
                  StreamBuffer &buffer)
{
    const std::uint8_t playChannel = settings.playChannel;
    const bool rampEnabled = settings.pitchBend != 0 && bendAllowed;

    // Room for the preamble, an opening program change and one event per note event; a bend
    // ramp may need more, and the buffer then grows geometrically.
    constexpr std::size_t limit = MaxStreamBytes - MaxStreamBytes % StreamEvent::Size;
    const std::size_t wanted = buffer.size() + (16 + list.size()) * StreamEvent::Size;
    buffer.reserve(std::min(wanted, limit));

    EncodePreamble(buffer, settings);

    std::int32_t previousTime = 0;
    bool rampTried = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const NoteEvent &event = list[i];
        // Difference in 32 bits, as the device's delta word holds it.
        std::uint32_t delta = std::uint32_t(event.time) - std::uint32_t(previousTime);
        if (i == 0 && event.kind != ProgramChange)
            EncodeProgramChange(buffer, 0, playChannel, settings.instrument);
        switch (event.kind) {
        case ProgramChange:
            EncodeProgramChange(buffer, delta, event.channel, event.value);
            break;
        case NoteOn:
            encodeNoteEvent(buffer, delta, event, true, playChannel);
            break;
        case NoteOff:
            if (rampEnabled && !rampTried) {
                rampTried = true;
                // The ramp lies inside the note off's delta. The note off keeps its list time:
                // its delta counts from the last ramp event, so it is shortened by the ticks
                // the ramp used, and every later event keeps its time too.
                delta -= EncodeBendRamp(buffer, std::int32_t(delta), event.channel, settings);
            }
            encodeNoteEvent(buffer, delta, event, false, playChannel);
            break;
        default:
            break; // any other kind produces nothing; its time still counts
        }
        previousTime = event.time;
    }
}

StreamBuffer EncodeStream(const EventList &list, const EncodeSettings &settings, bool bendAllowed)
{
    StreamBuffer buffer;
    EncodeStream(list, settings, bendAllowed, buffer);
    return buffer;
}

} // namespace midigen
