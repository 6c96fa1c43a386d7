// PlayString: a play string parsed into a sorted event list and played; the parser and the
// encoder as the play requests call them.

#include "MidiGen_p.h"
#include "PlayStringParser.h"
#include "SettingsOf.h"

bool TMidiGenPrivate::PlayString(const QByteArray &text)
{
    if (!PrepareToPlay())
        return false;
    loopCounter_ = loops_;

    midigen::EventList list;
    const bool bendAllowed = ParsePlayString(text, list);
    if (list.empty()) {
        // Nothing to start: the component stays ready for the next request.
        phase_ = Phase::Idle;
        return refuse(TMidiGen::mgNothingToPlay);
    }
    return AssembleAndPlay(std::move(list), bendAllowed);
}

bool TMidiGenPrivate::ParsePlayString(const QByteArray &text, midigen::EventList &list)
{
    playChannel_ = channel_;
    return midigen::ParsePlayString(text, midigen::ParseSettingsOf(*q_ptr), list);
}

void TMidiGenPrivate::AssembleStream(midigen::EventList list, bool bendAllowed)
{
    playChannel_ = channel_;
    midigen::EncodeStream(list, midigen::EncodeSettingsOf(*q_ptr), bendAllowed, streamBuffer_);
    // The list, taken over by value, releases its records on return.
}

bool TMidiGenPrivate::AppendEvent(std::uint32_t delta, std::uint32_t eventWord)
{
    return midigen::AppendEvent(streamBuffer_, delta, eventWord);
}

void TMidiGenPrivate::releaseStreamBuffer()
{
    // Keeps the capacity (at most 64 KiB) for the next stream of this component.
    streamBuffer_.clear();
}
