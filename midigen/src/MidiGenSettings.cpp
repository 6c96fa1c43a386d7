// The settings of the tone generator: construction, the clamping setters, and the single-note
// play operations.

#include "MidiGen_p.h"
#include "NotificationReceiver.h"

#include <midiout/Output.h>

#include <algorithm>
#include <cstdint>

TMidiGen::TMidiGen(QObject *parent) : TMidiGen(midiout::Output::system(), parent) {}

TMidiGen::TMidiGen(midiout::Output &output, QObject *parent)
    : QObject(parent), dptr_(std::make_unique<TMidiGenPrivate>(this, output))
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

qint32 TMidiGen::ClampSetting(qint32 min, qint32 max, qint32 value) const
{
    Q_D(const TMidiGen);
    if (min <= value && value <= max)
        return value;
    if (d->designing_ && d->rangeMessageHook_)
        d->rangeMessageHook_(QStringLiteral("Value must be between %1 and %2").arg(min).arg(max));
    return value > max ? max : min;
}

void TMidiGen::setVolume(qint32 value)
{
    Q_D(TMidiGen);
    d->volume_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPan(qint32 value)
{
    Q_D(TMidiGen);
    d->pan_ = ClampSetting(-100, 100, value);
}

void TMidiGen::setReverb(qint32 value)
{
    Q_D(TMidiGen);
    d->reverb_ = ClampSetting(0, 100, value);
}

void TMidiGen::setChorus(qint32 value)
{
    Q_D(TMidiGen);
    d->chorus_ = ClampSetting(0, 100, value);
}

void TMidiGen::setModulation(qint32 value)
{
    Q_D(TMidiGen);
    d->modulation_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPitchBend(qint32 value)
{
    Q_D(TMidiGen);
    d->pitchBend_ = ClampSetting(-120, 120, value);
}

void TMidiGen::setPBDelay(qint32 value)
{
    Q_D(TMidiGen);
    d->pbDelay_ = ClampSetting(0, 100, value);
}

void TMidiGen::setPBDuration(qint32 value)
{
    Q_D(TMidiGen);
    d->pbDuration_ = ClampSetting(0, 100, value);
}

// The 8-bit settings pass their value zero-extended, so only values above the range occur.
void TMidiGen::setNote(TMGNote value)
{
    Q_D(TMidiGen);
    d->note_ = TMGNote(ClampSetting(mgC, mgB, quint8(value)));
}

void TMidiGen::setOctave(qint32 value)
{
    Q_D(TMidiGen);
    d->octave_ = ClampSetting(0, 10, value);
}

void TMidiGen::setInstrument(TMGInstrument value)
{
    Q_D(TMidiGen);
    d->instrument_ =
        TMGInstrument(ClampSetting(mgAcousticGrandPiano, mgOpenTriangle, quint8(value)));
}

void TMidiGen::setChannel(TMGChannel value)
{
    Q_D(TMidiGen);
    d->channel_ = TMGChannel(ClampSetting(mgCh01, mgCh16, quint8(value)));
}

bool TMidiGen::Play()
{
    Q_D(TMidiGen);
    if (TMidiGenPrivate::threadRefusal() != mgNone)
        return false;
    // 0..131 with the ranges of Note and Octave; PlayNote limits it to 127.
    return PlayNote(qint32(d->note_) + 12 * d->octave_);
}

bool TMidiGen::PlayNote(qint32 note)
{
    Q_D(TMidiGen);
    if (TMidiGenPrivate::threadRefusal() != mgNone || !d->PrepareToPlay())
        return false;
    d->loopCounter_ = d->loops_;
    // A single note may always carry the pitch-bend ramp.
    return d->settle(d->AssembleAndPlay(d->noteList(note), true));
}

midigen::EventList TMidiGenPrivate::noteList(qint32 note) const
{
    // Limited here too, so that a designer sees the range message.
    const std::int32_t limited = q_func()->ClampSetting(0, 127, note);
    return midigen::NoteList(limited, instrument_, channel_, duration_);
}
