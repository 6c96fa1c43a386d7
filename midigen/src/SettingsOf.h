#pragma once

// The settings of a tone generator as a play request hands them to the parser and to the
// encoder, with Channel as the play channel. Read through the public getters, so that the tool
// and the tests build what a play request builds.

#include "PlayStringParser.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>

namespace midigen
{

inline ParseSettings ParseSettingsOf(const TMidiGen &generator)
{
    return {
        .octave = generator.Octave(),
        .duration = generator.Duration(),
        .instrument = generator.Instrument(),
        .playChannel = generator.Channel(),
    };
}

inline EncodeSettings EncodeSettingsOf(const TMidiGen &generator)
{
    return {
        .volume = generator.Volume(),
        .pan = generator.Pan(),
        .reverb = generator.Reverb(),
        .chorus = generator.Chorus(),
        .sustain = generator.Sustain(),
        .modulation = generator.Modulation(),
        .pitchBend = generator.PitchBend(),
        .pbDelay = generator.PBDelay(),
        .pbDuration = generator.PBDuration(),
        .instrument = generator.Instrument(),
        .playChannel = generator.Channel(),
    };
}

} // namespace midigen
