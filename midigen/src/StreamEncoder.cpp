// Encoding of an event list and the settings into the stream buffer: the controller preamble,
// program changes, notes, percussion keys and the pitch-bend ramp, one 12-byte stream event
// each, within the buffer's size limit.

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <algorithm>
#include <new>

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

} // namespace

bool TMidiGen::AppendEvent(std::uint32_t delta, std::uint32_t eventWord)
{
    const std::size_t length = m_streamBuffer.size();
    if (length + StreamEvent::Size > midigen::MaxStreamBytes)
        return false;
    try {
        // The vector grows geometrically, so appending does not copy the buffer every time.
        m_streamBuffer.resize(length + StreamEvent::Size);
    } catch (const std::bad_alloc &) {
        return false; // no memory left: the event is dropped like one past the limit
    }
    StreamEvent{delta, 0, eventWord}.encode(m_streamBuffer.data() + length);
    return true;
}

void TMidiGen::releaseStreamBuffer()
{
    // Keeps the capacity (at most 64 KiB) for the next stream of this component.
    m_streamBuffer.clear();
}

void TMidiGen::AppendMessage(std::uint32_t delta, std::uint8_t channel, std::uint8_t kind,
                             std::uint16_t data, bool callback)
{
    const StreamEvent event = StreamEvent::shortMessage(
        delta, midiout::statusByte(statusOf(kind), channel), std::uint8_t(data),
        std::uint8_t(data >> 8), callback);
    AppendEvent(delta, event.event); // a dropped event is dropped silently
}

void TMidiGen::EncodeProgramChange(std::uint32_t delta, std::uint8_t channel,
                                   std::int32_t instrument)
{
    AppendMessage(delta, channel, KindProgramChange, dataWord(dataByte(instrument), 0));
}

void TMidiGen::EncodeNote(std::uint32_t delta, std::uint8_t channel, std::int32_t note,
                          std::uint8_t velocity)
{
    AppendMessage(delta, channel, KindNote, dataWord(dataByte(note), velocity));
}

void TMidiGen::EncodePercussionNote(std::uint32_t delta, std::int32_t value, bool on)
{
    // A percussion ordinal 128..174 sounds key ordinal - 93, kept within the keys 35..81.
    const auto key = std::uint8_t(std::clamp<std::int64_t>(std::int64_t(value) - 93, 35, 81));
    AppendMessage(delta, PercussionChannel, KindNote, dataWord(key, on ? 127 : 0));
}

void TMidiGen::EncodeResetAllControllers(std::uint8_t channel, bool callback)
{
    AppendMessage(0, channel, KindResetAllControllers, dataWord(controller::ResetAllControllers, 0), callback);
}

void TMidiGen::EncodeRpnLow(std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(0, channel, KindRpnLow, dataWord(controller::RpnLow, value));
}

void TMidiGen::EncodeRpnHigh(std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(0, channel, KindRpnHigh, dataWord(controller::RpnHigh, value));
}

void TMidiGen::EncodeDataEntryHigh(std::uint8_t channel, std::uint8_t value)
{
    AppendMessage(0, channel, KindDataEntryHigh, dataWord(controller::DataEntryHigh, value));
}

void TMidiGen::EncodePan(std::uint8_t channel)
{
    AppendMessage(0, channel, KindPan, dataWord(controller::Pan, std::uint8_t(m_pan * 63 / 100 + 64)));
}

void TMidiGen::EncodeModulation(std::uint8_t channel)
{
    AppendMessage(0, channel, KindModulation, dataWord(controller::Modulation, percentToController(m_modulation)));
}

void TMidiGen::EncodeVolume(std::uint8_t channel)
{
    AppendMessage(0, channel, KindVolume, dataWord(controller::Volume, percentToController(m_volume)));
}

void TMidiGen::EncodeSustain(std::uint8_t channel)
{
    AppendMessage(0, channel, KindSustain, dataWord(controller::Sustain, m_sustain ? 127 : 0));
}

void TMidiGen::EncodeReverb(std::uint8_t channel)
{
    AppendMessage(0, channel, KindReverb, dataWord(controller::Reverb, percentToController(m_reverb)));
}

void TMidiGen::EncodeChorus(std::uint8_t channel)
{
    AppendMessage(0, channel, KindChorus, dataWord(controller::Chorus, percentToController(m_chorus)));
}

void TMidiGen::EncodePitchBend(std::uint32_t delta, std::uint8_t channel, std::int32_t value)
{
    AppendMessage(delta, channel, KindPitchBend,
                  dataWord(std::uint8_t(value & 0x7F), std::uint8_t((value >> 7) & 0x7F)));
}

void TMidiGen::EncodePreamble()
{
    const std::uint8_t p = m_playChannel;
    // Only this first event reports when it is played: the stream has begun to sound.
    EncodeResetAllControllers(p, true);
    EncodeResetAllControllers(PercussionChannel, false);
    // Pitch-bend range (registered parameter 0) to 12 semitones, then no parameter selected.
    EncodeRpnLow(p, 0);
    EncodeRpnHigh(p, 0);
    EncodeDataEntryHigh(p, 12);
    EncodeRpnLow(p, 127);
    EncodeRpnHigh(p, 127);
    EncodePan(p);
    EncodePan(PercussionChannel);
    EncodeModulation(p);
    EncodeVolume(p);
    EncodeVolume(PercussionChannel);
    EncodeSustain(p);
    EncodeReverb(p);
    EncodeChorus(p);
}

std::uint32_t TMidiGen::EncodeBendRamp(std::int32_t delta, std::uint8_t channel)
{
    if (delta == 0 || m_pbDuration == 0 || m_pbDelay == 100 || m_pitchBend == 0)
        return 0;
    // 64-bit so that very long notes do not overflow; a negative delta yields no steps.
    const std::int64_t wait = std::int64_t(delta) * m_pbDelay / 100;
    const std::int64_t steps = (delta - wait) * m_pbDuration / 100;
    if (steps < 1 || steps > 8191)
        return 0;
    const std::int32_t increment = (m_pitchBend * 8191 / 120) / std::int32_t(steps);
    std::int32_t value = 8192; // centre
    for (std::int64_t k = 1; k <= steps; ++k) {
        value += increment;
        EncodePitchBend(k == 1 ? std::uint32_t(wait + 1) : 1, channel, value);
    }
    return std::uint32_t(wait + steps);
}

void TMidiGen::EncodeNoteEvent(std::uint32_t delta, const midigen::NoteEvent &event, bool on)
{
    if (event.channel == PercussionChannel && m_playChannel != PercussionChannel)
        EncodePercussionNote(delta, event.value, on);
    else
        EncodeNote(delta, event.channel, event.value, on ? 127 : 0);
}

void TMidiGen::AssembleStream(midigen::EventList list, bool bendAllowed)
{
    m_playChannel = m_channel;
    const bool rampEnabled = m_pitchBend != 0 && bendAllowed;

    // Room for the preamble, an opening program change and one event per note event; a bend
    // ramp may need more, and the buffer then grows geometrically.
    constexpr std::size_t limit =
        midigen::MaxStreamBytes - midigen::MaxStreamBytes % StreamEvent::Size;
    const std::size_t wanted =
        m_streamBuffer.size() + (16 + list.size()) * StreamEvent::Size;
    m_streamBuffer.reserve(std::min(wanted, limit));

    EncodePreamble();

    std::int32_t previousTime = 0;
    bool rampTried = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const midigen::NoteEvent &event = list[i];
        // Difference in 32 bits, as the device's delta word holds it.
        std::uint32_t delta = std::uint32_t(event.time) - std::uint32_t(previousTime);
        if (i == 0 && event.kind != midigen::ProgramChange)
            EncodeProgramChange(0, m_playChannel, m_instrument);
        switch (event.kind) {
        case midigen::ProgramChange:
            EncodeProgramChange(delta, event.channel, event.value);
            break;
        case midigen::NoteOn:
            EncodeNoteEvent(delta, event, true);
            break;
        case midigen::NoteOff:
            if (rampEnabled && !rampTried) {
                rampTried = true;
                // The ramp lies inside the note off's delta. The note off keeps its list time:
                // its delta counts from the last ramp event, so it is shortened by the ticks
                // the ramp used, and every later event keeps its time too.
                delta -= EncodeBendRamp(std::int32_t(delta), event.channel);
            }
            EncodeNoteEvent(delta, event, false);
            break;
        default:
            break; // any other kind produces nothing; its time still counts
        }
        previousTime = event.time;
    }
    // The list, taken over by value, releases its records on return.
}
