#pragma once

// What tests read of a tone generator's inside, through its private part: the note list its
// PlayNote builds, its stream buffer, its instance number and its pre-play step.

#include "MidiGen_p.h"

class TMidiGenTestAccess
{
public:
    // TMidiGenPrivate::noteList: the list PlayNote(note) plays, the range message included.
    static midigen::EventList noteList(const TMidiGen &generator, qint32 note)
    {
        return TMidiGenPrivate::get(&generator)->noteList(note);
    }
    static const midigen::StreamBuffer &streamBuffer(const TMidiGen &generator)
    {
        return TMidiGenPrivate::get(&generator)->streamBuffer_;
    }
    static quint32 instanceNumber(const TMidiGen &generator)
    {
        return TMidiGenPrivate::get(&generator)->instanceNumber_;
    }
    static bool prepareToPlay(TMidiGen &generator)
    {
        return TMidiGenPrivate::get(&generator)->PrepareToPlay();
    }
};
