// PlayString and the compile side of the play requests: a play request compiled is its event
// list, its bend-allowed flag and the stream the list and the settings encode into; a request
// plays that stream.

#include "CompiledRequest_p.h"
#include "MidiGen_p.h"
#include "PlayStringParser.h"
#include "SettingsOf.h"

TMGCompiledRequest TMidiGen::CompileNote(qint32 note) const
{
    Q_D(const TMidiGen);
    return d->compile(d->noteList(note), true);
}

TMGCompiledRequest TMidiGen::CompileString(const QByteArray &text) const
{
    Q_D(const TMidiGen);
    midigen::EventList list;
    const bool bendAllowed = d->ParsePlayString(text, list);
    return d->compile(list, bendAllowed);
}

bool TMidiGen::PlayString(const QByteArray &text)
{
    Q_D(TMidiGen);
    if (TMidiGenPrivate::threadRefusal() != mgNone || !d->PrepareToPlay())
        return false;
    d->loopCounter_ = d->loops_;

    midigen::EventList list;
    const bool bendAllowed = d->ParsePlayString(text, list);
    if (list.empty()) {
        // Nothing to send: the component stays ready for the next request. A list of program
        // changes alone plays like any other: its stream selects the sounds.
        return d->refuseRequest(mgNothingToPlay);
    }
    return d->settle(d->AssembleAndPlay(std::move(list), bendAllowed));
}

bool TMidiGenPrivate::ParsePlayString(const QByteArray &text, midigen::EventList &list) const
{
    return midigen::ParsePlayString(text, midigen::ParseSettingsOf(*q_ptr), list);
}

TMGCompiledRequest TMidiGenPrivate::compile(const midigen::EventList &list, bool bendAllowed) const
{
    return TMGCompiledRequestData::compile(list, bendAllowed, midigen::EncodeSettingsOf(*q_ptr));
}

void TMidiGenPrivate::AssembleStream(midigen::EventList list, bool bendAllowed)
{
    midigen::EncodeStream(list, midigen::EncodeSettingsOf(*q_ptr), bendAllowed, streamBuffer_);
    // The list, taken over by value, releases its records on return.
}

void TMidiGenPrivate::releaseStreamBuffer()
{
    // Keeps the capacity (at most 64 KiB) for the next stream of this component.
    streamBuffer_.clear();
}
