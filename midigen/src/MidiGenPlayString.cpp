// PlayString: a play string parsed into a sorted event list and played.

#include <midigen/MidiGen.h>
#include <midigen/PlayStringParser.h>

bool TMidiGen::PlayString(const QByteArray &text)
{
    if (!PrepareToPlay())
        return false;
    m_loopCounter = m_loops;

    midigen::EventList list;
    const bool bendAllowed = ParsePlayString(text, list);
    if (list.empty()) {
        // Nothing to start: the component stays ready for the next request.
        m_ready = true;
        return false;
    }
    return AssembleAndPlay(std::move(list), bendAllowed);
}

bool TMidiGen::ParsePlayString(const QByteArray &text, midigen::EventList &list)
{
    m_playChannel = m_channel;
    const midigen::ParseSettings settings{
        .octave = m_octave,
        .duration = m_duration,
        .instrument = m_instrument,
        .playChannel = m_playChannel,
    };
    return midigen::ParsePlayString(text, settings, list);
}
