#pragma once

// What tests read of a tone generator's inside: the note list its PlayNote builds, its stream
// buffer, its instance number and its pre-play step. TMidiGen names this class its friend.

#include "MidiGen_p.h"

class TMidiGenTestAccess
{
public:
    // TMidiGenPrivate::noteList: the list PlayNote(note) plays, the range message included.
    static midigen::EventList noteList(TMidiGen &generator, qint32 note)
    {
        return generator.d_func()->noteList(note);
    }
    static const midigen::StreamBuffer &streamBuffer(const TMidiGen &generator)
    {
        return generator.d_func()->streamBuffer_;
    }
    static quint32 instanceNumber(const TMidiGen &generator)
    {
        return generator.d_func()->instanceNumber_;
    }
    static bool prepareToPlay(TMidiGen &generator) { return generator.d_func()->PrepareToPlay(); }
};
