// The settings of the tone generator: construction, the clamping setters, and the single-note
// play operations.

#include <midigen/MidiGen.h>
#include "NotificationWindow.h"

#include <algorithm>
#include <cstdint>

TMidiGen::TMidiGen(QObject *parent) : TMidiGen(midiout::Output::system(), parent) {}

TMidiGen::TMidiGen(midiout::Output &output, QObject *parent)
    : QObject(parent), m_output(output),
      m_notificationWindow(new midigen::NotificationWindow(
          [this](midiout::Notification notification) { HandleNotification(notification); }, this)),
      m_instanceNumber(takeInstanceNumber())
{
}

qint32 TMidiGen::ClampSetting(qint32 min, qint32 max, qint32 value) const
{
    if (min <= value && value <= max)
        return value;
    if (m_designing && m_rangeMessageHook)
        m_rangeMessageHook(QStringLiteral("Value must be between %1 and %2").arg(min).arg(max));
    return value > max ? max : min;
}

void TMidiGen::setVolume(qint32 value)
{
    m_volume = ClampSetting(0, 100, value);
}

void TMidiGen::setPan(qint32 value)
{
    m_pan = ClampSetting(-100, 100, value);
}

void TMidiGen::setReverb(qint32 value)
{
    m_reverb = ClampSetting(0, 100, value);
}

void TMidiGen::setChorus(qint32 value)
{
    m_chorus = ClampSetting(0, 100, value);
}

void TMidiGen::setModulation(qint32 value)
{
    m_modulation = ClampSetting(0, 100, value);
}

void TMidiGen::setPitchBend(qint32 value)
{
    m_pitchBend = ClampSetting(-120, 120, value);
}

void TMidiGen::setPBDelay(qint32 value)
{
    m_pbDelay = ClampSetting(0, 100, value);
}

void TMidiGen::setPBDuration(qint32 value)
{
    m_pbDuration = ClampSetting(0, 100, value);
}

// The 8-bit settings pass their value zero-extended, so only values above the range occur.
void TMidiGen::setNote(TMGNote value)
{
    m_note = TMGNote(ClampSetting(mgC, mgB, quint8(value)));
}

void TMidiGen::setOctave(qint32 value)
{
    m_octave = ClampSetting(0, 10, value);
}

void TMidiGen::setInstrument(TMGInstrument value)
{
    m_instrument = TMGInstrument(ClampSetting(mgAcousticGrandPiano, mgOpenTriangle, quint8(value)));
}

void TMidiGen::setChannel(TMGChannel value)
{
    m_channel = TMGChannel(ClampSetting(mgCh01, mgCh16, quint8(value)));
}

bool TMidiGen::Play()
{
    // 0..131 with the ranges of Note and Octave; PlayNote limits it to 127.
    return PlayNote(qint32(m_note) + 12 * m_octave);
}

bool TMidiGen::PlayNote(qint32 note)
{
    if (!PrepareToPlay())
        return false;
    m_loopCounter = m_loops;
    // A single note may always carry the pitch-bend ramp.
    return AssembleAndPlay(NoteList(note), true);
}

midigen::EventList TMidiGen::NoteList(qint32 note)
{
    m_playChannel = m_channel;
    // Limited here too, so that a designer sees the range message.
    const std::int32_t limited = ClampSetting(0, 127, note);
    return midigen::NoteList(limited, m_instrument, m_playChannel, m_duration);
}

namespace midigen
{

ParseSettings ParseSettingsOf(const TMidiGen &generator)
{
    return {
        .octave = generator.Octave(),
        .duration = generator.Duration(),
        .instrument = generator.Instrument(),
        .playChannel = generator.Channel(),
    };
}

EncodeSettings EncodeSettingsOf(const TMidiGen &generator)
{
    return {
        .volume = generator.Volume(),
        .pan = generator.Pan(),
        .reverb = generator.Reverb(),
        .chorus = generator.Chorus(),
        .sustain = generator.Sustain(),
        .modulation = generator.Modulation(),
        .pitchBend = generator.PitchBend(),
        .pbDelay = generator.PBDelay(),
        .pbDuration = generator.PBDuration(),
        .instrument = generator.Instrument(),
        .playChannel = generator.Channel(),
    };
}

} // namespace midigen
