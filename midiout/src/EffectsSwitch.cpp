#include "EffectsSwitch.h"

#include "FluidApi.h"
#include "MidiMessages_p.h"
#include "SynthCore.h"

#include <midiout/OfflineOutput.h>

namespace midiout
{

namespace
{

// A unit that nothing feeds any more stays on this long, 10 s, for what it holds to die away:
// the reverb as the synthesizer is set falls below a 16-bit step within 3 s, the chorus within
// a few milliseconds.
constexpr std::uint32_t TailBlocks = 10 * OfflineOutput::SampleRate / 64;
// While only voices feed a unit they are looked at again this often (46 ms) to see them end.
constexpr std::uint32_t LookBlocks = 32;
constexpr int Channels = 16;

} // namespace

EffectsSwitch::EffectsSwitch(SynthCore &core, bool switching) : core_(core), switching_(switching)
{
    // The synthesizer starts with both units on, holding nothing: off at the first block that
    // nothing feeds.
    units_[Reverb] = {controller::Reverb, GEN_REVERBSEND, 0, true, false, TailBlocks};
    units_[Chorus] = {controller::Chorus, GEN_CHORUSSEND, 0, true, false, TailBlocks};
}

void EffectsSwitch::controlChanged(int channel)
{
    readChannel(channel);
}

void EffectsSwitch::channelsReset()
{
    for (int channel = 0; channel < Channels; ++channel)
        readChannel(channel);
    voicesChanged_ = true;
}

void EffectsSwitch::readChannel(int channel)
{
    const FluidApi &fluid = core_.fluid();
    fluid_synth_t *synth = core_.synth();
    for (Unit &unit : units_) {
        int send = 0;
        fluid.fluid_synth_get_cc(synth, channel, unit.controller, &send);
        const bool sends =
            send > 0 || fluid.fluid_synth_get_gen(synth, channel, unit.generator) > 0;
        const auto bit = std::uint16_t(1u << channel);
        unit.channels = sends ? unit.channels | bit : unit.channels & ~bit;
    }
}

void EffectsSwitch::lookAtVoices()
{
    const FluidApi &fluid = core_.fluid();
    // The playing voices, those in their release included, up to a null.
    fluid.fluid_synth_get_voicelist(core_.synth(), voices_.data(), int(voices_.size()), -1);
    for (Unit &unit : units_)
        unit.fedByVoices = false;
    for (fluid_voice_t *voice : voices_) {
        if (voice == nullptr)
            break;
        // The SoundFont's preset and instrument generators; what the channel's controller
        // adds through the default modulator is the channel's send.
        for (Unit &unit : units_)
            if (fluid.fluid_voice_gen_get(voice, unit.generator) > 0.0f)
                unit.fedByVoices = true;
    }
}

void EffectsSwitch::beforeBlock()
{
    if (!switching_)
        return;
    if (!initialised_) {
        initialised_ = true;
        channelsReset();
    }
    const bool watchVoices = units_[Reverb].fedByVoices || units_[Chorus].fedByVoices;
    if (voicesChanged_ || (watchVoices && ++blocksSinceLook_ >= LookBlocks)) {
        lookAtVoices();
        voicesChanged_ = false;
        blocksSinceLook_ = 0;
    }
    for (Unit &unit : units_) {
        if (unit.channels != 0 || unit.fedByVoices) {
            unit.idleBlocks = 0;
            switchUnit(unit, true);
        } else if (unit.on && (unit.idleBlocks >= TailBlocks || ++unit.idleBlocks == TailBlocks)) {
            switchUnit(unit, false);
        }
    }
}

void EffectsSwitch::switchUnit(Unit &unit, bool on)
{
    if (unit.on == on)
        return;
    unit.on = on;
    const FluidApi &fluid = core_.fluid();
    if (&unit == &units_[Reverb])
        fluid.fluid_synth_reverb_on(core_.synth(), -1, on ? 1 : 0);
    else
        fluid.fluid_synth_chorus_on(core_.synth(), -1, on ? 1 : 0);
}

} // namespace midiout
