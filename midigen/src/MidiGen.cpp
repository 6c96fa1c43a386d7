// The component's getters, its design-mode hooks and why a request was refused. The setters
// are in MidiGenSettings.cpp, the play requests beside their steps.

#include "MidiGen_p.h"

qint32 TMidiGen::Volume() const
{
    return d_func()->volume_;
}

qint32 TMidiGen::Pan() const
{
    return d_func()->pan_;
}

qint32 TMidiGen::Reverb() const
{
    return d_func()->reverb_;
}

qint32 TMidiGen::Chorus() const
{
    return d_func()->chorus_;
}

bool TMidiGen::Sustain() const
{
    return d_func()->sustain_;
}

void TMidiGen::setSustain(bool value)
{
    d_func()->sustain_ = value;
}

qint32 TMidiGen::Modulation() const
{
    return d_func()->modulation_;
}

qint32 TMidiGen::PitchBend() const
{
    return d_func()->pitchBend_;
}

qint32 TMidiGen::PBDelay() const
{
    return d_func()->pbDelay_;
}

qint32 TMidiGen::PBDuration() const
{
    return d_func()->pbDuration_;
}

quint32 TMidiGen::Duration() const
{
    return d_func()->duration_;
}

void TMidiGen::setDuration(quint32 value)
{
    d_func()->duration_ = value;
}

TMidiGen::TMGNote TMidiGen::Note() const
{
    return d_func()->note_;
}

qint32 TMidiGen::Octave() const
{
    return d_func()->octave_;
}

TMidiGen::TMGInstrument TMidiGen::Instrument() const
{
    return d_func()->instrument_;
}

TMidiGen::TMGChannel TMidiGen::Channel() const
{
    return d_func()->channel_;
}

quint32 TMidiGen::Loops() const
{
    return d_func()->loops_;
}

void TMidiGen::setLoops(quint32 value)
{
    d_func()->loops_ = value;
}

bool TMidiGen::IsPlaying() const
{
    return d_func()->isPlaying();
}

void TMidiGen::setDesigning(bool designing)
{
    d_func()->designing_ = designing;
}

bool TMidiGen::designing() const
{
    return d_func()->designing_;
}

void TMidiGen::setRangeMessageHook(RangeMessageHook hook)
{
    d_func()->rangeMessageHook_ = std::move(hook);
}

TMidiGen::TMGRefusal TMidiGen::LastRefusal() const
{
    // Another thread learns why it is refused without reading what this thread writes.
    const TMGRefusal refusal = TMidiGenPrivate::threadRefusal();
    return refusal != mgNone ? refusal : d_func()->refusal_;
}

QString TMidiGen::LastError() const
{
    switch (LastRefusal()) {
    case mgNone:
        return {};
    case mgBusy:
        return QStringLiteral("the previous request has not begun to sound yet");
    case mgNoApplication:
        return QStringLiteral("no application object exists");
    case mgNoOutput:
        return QStringLiteral("the output device cannot be opened");
    case mgOutputOwned:
        return QStringLiteral("another component of this program owns the output");
    case mgNothingToPlay:
        return QStringLiteral("the play string holds no event");
    case mgOpenFailed:
        return QStringLiteral("the output device did not open a stream");
    case mgStartFailed:
        return QStringLiteral("the stream did not start");
    case mgWrongThread:
        return QStringLiteral("called from a thread other than the application object's");
    }
    return QStringLiteral("refused");
}

bool TMidiGenPrivate::refuse(TMidiGen::TMGRefusal reason)
{
    refusal_ = reason;
    return false;
}

bool TMidiGenPrivate::settle(bool started)
{
    if (started)
        refusal_ = TMidiGen::mgNone;
    return started;
}
