// The settings of the tone generator: construction, the clamping setters, and the single-note
// play operations.

#include "MidiGen_p.h"
#include "NotificationReceiver.h"

#include <midiout/Output.h>

#include <algorithm>
#include <cstdint>

TMidiGen::TMidiGen(QObject *parent) : TMidiGen(midiout::Output::system(), parent) {}

TMidiGen::TMidiGen(midiout::Output &output, QObject *parent)
    : QObject(parent), d_ptr(std::make_unique<TMidiGenPrivate>(this, output))
{
    // The built-in synthesizer starts loading now, so that a request a moment later does not
    // wait for its SoundFont.
    output.prepare();
}

TMidiGenPrivate::TMidiGenPrivate(TMidiGen *q, midiout::Output &output)
    : q_ptr(q), output_(output),
      notificationReceiver_(new midigen::NotificationReceiver(
          [this](midiout::Notification notification) { handleNotification(notification); }, q)),
      instanceNumber_(takeInstanceNumber())
{
}

// Out of line, where the stream's type is complete.
TMidiGenPrivate::~TMidiGenPrivate() = default;

qint32 TMidiGenPrivate::ClampSetting(qint32 min, qint32 max, qint32 value) const
{
    if (min <= value && value <= max)
        return value;
    if (designing_ && rangeMessageHook_)
        rangeMessageHook_(QStringLiteral("Value must be between %1 and %2").arg(min).arg(max));
    return value > max ? max : min;
}

void TMidiGen::setVolume(qint32 value)
{
    Q_D(TMidiGen);
    d->volume_ = d->ClampSetting(0, 100, value);
}

void TMidiGen::setPan(qint32 value)
{
    Q_D(TMidiGen);
    d->pan_ = d->ClampSetting(-100, 100, value);
}

void TMidiGen::setReverb(qint32 value)
{
    Q_D(TMidiGen);
    d->reverb_ = d->ClampSetting(0, 100, value);
}

void TMidiGen::setChorus(qint32 value)
{
    Q_D(TMidiGen);
    d->chorus_ = d->ClampSetting(0, 100, value);
}

void TMidiGen::setModulation(qint32 value)
{
    Q_D(TMidiGen);
    d->modulation_ = d->ClampSetting(0, 100, value);
}

void TMidiGen::setPitchBend(qint32 value)
{
    Q_D(TMidiGen);
    d->pitchBend_ = d->ClampSetting(-120, 120, value);
}

void TMidiGen::setPBDelay(qint32 value)
{
    Q_D(TMidiGen);
    d->pbDelay_ = d->ClampSetting(0, 100, value);
}

void TMidiGen::setPBDuration(qint32 value)
{
    Q_D(TMidiGen);
    d->pbDuration_ = d->ClampSetting(0, 100, value);
}

// The 8-bit settings pass their value zero-extended, so only values above the range occur.
void TMidiGen::setNote(TMGNote value)
{
    Q_D(TMidiGen);
    d->note_ = TMGNote(d->ClampSetting(mgC, mgB, quint8(value)));
}

void TMidiGen::setOctave(qint32 value)
{
    Q_D(TMidiGen);
    d->octave_ = d->ClampSetting(0, 10, value);
}

void TMidiGen::setInstrument(TMGInstrument value)
{
    Q_D(TMidiGen);
    d->instrument_ =
        TMGInstrument(d->ClampSetting(mgAcousticGrandPiano, mgOpenTriangle, quint8(value)));
}

void TMidiGen::setChannel(TMGChannel value)
{
    Q_D(TMidiGen);
    d->channel_ = TMGChannel(d->ClampSetting(mgCh01, mgCh16, quint8(value)));
}

bool TMidiGenPrivate::Play()
{
    // 0..131 with the ranges of Note and Octave; PlayNote limits it to 127.
    return PlayNote(qint32(note_) + 12 * octave_);
}

bool TMidiGenPrivate::PlayNote(qint32 note)
{
    if (!PrepareToPlay())
        return false;
    loopCounter_ = loops_;
    // A single note may always carry the pitch-bend ramp.
    return AssembleAndPlay(noteList(note), true);
}

midigen::EventList TMidiGenPrivate::noteList(qint32 note) const
{
    // Limited here too, so that a designer sees the range message.
    const std::int32_t limited = ClampSetting(0, 127, note);
    return midigen::NoteList(limited, instrument_, channel_, duration_);
}
