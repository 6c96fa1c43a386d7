// PlayString: a play string parsed into a sorted event list and played.

#include "MidiGen.h"
#include "PlayStringParser.h"

bool TMidiGen::PlayString(const QByteArray &text)
{
    if (!PrepareToPlay())
        return false;
    m_loopCounter = m_loops;
    m_playChannel = m_channel;

    midigen::EventList list;
    const midigen::ParseSettings settings{
        .octave = m_octave,
        .duration = m_duration,
        .instrument = m_instrument,
        .playChannel = m_playChannel,
    };
    const bool bendAllowed = midigen::ParsePlayString(text, settings, list);
    if (list.empty())
        return false;
    return AssembleAndPlay(std::move(list), bendAllowed);
}
