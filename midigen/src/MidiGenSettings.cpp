// The settings of the tone generator: construction, the clamping setters, and the single-note
// play operations.

#include "NotificationReceiver.h"
#include <midigen/MidiGen.h>

#include <algorithm>
#include <cstdint>

TMidiGen::TMidiGen(QObject *parent) : TMidiGen(midiout::Output::system(), parent) {}

TMidiGen::TMidiGen(midiout::Output &output, QObject *parent)
    : QObject(parent), output_(output),
      notificationReceiver_(new midigen::NotificationReceiver(
          [this](midiout::Notification notification) { handleNotification(notification); }, this)),
      instanceNumber_(takeInstanceNumber())
{
}

qint32 TMidiGen::ClampSetting(qint32 min, qint32 max, qint32 value) const
{
    if (min <= value && value <= max)
        return value;
    if (designing_ && rangeMessageHook_)
        rangeMessageHook_(QStringLiteral("Value must be between %1 and %2").arg(min).arg(max));
    return value > max ? max : min;
}

void TMidiGen::setVolume(qint32 value)
{
    volume_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPan(qint32 value)
{
    pan_ = ClampSetting(-100, 100, value);
}

void TMidiGen::setReverb(qint32 value)
{
    reverb_ = ClampSetting(0, 100, value);
}

void TMidiGen::setChorus(qint32 value)
{
    chorus_ = ClampSetting(0, 100, value);
}

void TMidiGen::setModulation(qint32 value)
{
    modulation_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPitchBend(qint32 value)
{
    pitchBend_ = ClampSetting(-120, 120, value);
}

void TMidiGen::setPBDelay(qint32 value)
{
    pbDelay_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPBDuration(qint32 value)
{
    pbDuration_ = ClampSetting(0, 100, value);
}

// The 8-bit settings pass their value zero-extended, so only values above the range occur.
void TMidiGen::setNote(TMGNote value)
{
    note_ = TMGNote(ClampSetting(mgC, mgB, quint8(value)));
}

void TMidiGen::setOctave(qint32 value)
{
    octave_ = ClampSetting(0, 10, value);
}

void TMidiGen::setInstrument(TMGInstrument value)
{
    instrument_ = TMGInstrument(ClampSetting(mgAcousticGrandPiano, mgOpenTriangle, quint8(value)));
}

void TMidiGen::setChannel(TMGChannel value)
{
    channel_ = TMGChannel(ClampSetting(mgCh01, mgCh16, quint8(value)));
}

bool TMidiGen::Play()
{
    // 0..131 with the ranges of Note and Octave; PlayNote limits it to 127.
    return PlayNote(qint32(note_) + 12 * octave_);
}

bool TMidiGen::PlayNote(qint32 note)
{
    if (!PrepareToPlay())
        return false;
    loopCounter_ = loops_;
    // A single note may always carry the pitch-bend ramp.
    return AssembleAndPlay(noteList(note), true);
}

midigen::EventList TMidiGen::noteList(qint32 note)
{
    playChannel_ = channel_;
    // Limited here too, so that a designer sees the range message.
    const std::int32_t limited = ClampSetting(0, 127, note);
    return midigen::NoteList(limited, instrument_, playChannel_, duration_);
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
