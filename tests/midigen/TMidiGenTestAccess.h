#pragma once

// What tests read of a tone generator's inside, through its private part, where no public call
// tells it: whether its stream buffer was released, and its instance number.

#include "MidiGen_p.h"

class TMidiGenTestAccess
{
public:
    static const midigen::StreamBuffer &streamBuffer(const TMidiGen &generator)
    {
        return TMidiGenPrivate::get(&generator)->streamBuffer_;
    }
    static quint32 instanceNumber(const TMidiGen &generator)
    {
        return TMidiGenPrivate::get(&generator)->instanceNumber_;
    }
};
