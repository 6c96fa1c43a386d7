#pragma once

// Runs the synthesizer's reverb and chorus units only while something feeds them, and until
// what they hold has died away. A unit is fed while a channel's send to it (controller 91 or 93,
// or a generator offset set by NRPN) is above 0, or while a sounding voice sends to it by its
// SoundFont's own generators: most General MIDI presets do, whatever the controllers say.
// Off, a unit costs nothing and its output is silence, as it would be with nothing fed to it.
// Audio thread only, holding the synthesizer; allocates nothing.

#include <fluidsynth/types.h>

#include <array>
#include <cstdint>

namespace midiout
{

class SynthCore;

class EffectsSwitch
{
public:
    // FluidSynth's default polyphony, which SynthCore keeps.
    static constexpr int Polyphony = 256;

    // switching: false keeps both units on, as the synthesizer starts them.
    EffectsSwitch(SynthCore &core, bool switching);

    // After a control change on channel: its sends may have changed.
    void controlChanged(int channel);
    // After a note on: its voices may feed a unit.
    void noteStarted() { voicesChanged_ = true; }
    // After a reset of every channel: the sends are read again.
    void channelsReset();
    // Before each block is rendered: switches each unit on or off for it.
    void beforeBlock();

    bool reverbOn() const { return units_[Reverb].on; }
    bool chorusOn() const { return units_[Chorus].on; }

private:
    enum UnitIndex { Reverb, Chorus, UnitCount };
    struct Unit {
        int controller;           // the channels' send controller
        int generator;            // the voices' send generator
        std::uint16_t channels;   // channels that send to it, a bit each
        bool on;                  // as the synthesizer has been told
        bool fedByVoices;         // at the last look at the voices
        std::uint32_t idleBlocks; // blocks since it was last seen fed
    };

    void readChannel(int channel);
    void lookAtVoices();
    void switchUnit(Unit &unit, bool on);

    SynthCore &core_;
    const bool switching_;
    std::array<Unit, UnitCount> units_{};
    bool initialised_ = false;
    bool voicesChanged_ = true;
    std::uint32_t blocksSinceLook_ = 0;
    std::array<fluid_voice_t *, Polyphony + 1> voices_{};
};

} // namespace midiout
