// Silencing for stop and reset: a short fade of every voice and of the reverb, all sounds off,
// then a reset of the synthesizer, all in the timer thread, one step per audio block.

#include "SynthEngine.h"

#include <fluidsynth.h>

#include <cmath>
#include <iterator>

namespace midiout
{

namespace
{

// The fade: one step a block, the voices' level and the reverb's output level drop to these
// shares. The synthesizer ramps voice levels linearly across a block, so the voices fade along a
// straight line to silence over FadeSteps blocks (5.8 ms). The chorus is left alone (a change of
// its level disturbs its delay lines, an audible click): its output is the faded voices, delayed
// by at most ChorusTailBlocks.
constexpr float FadeGains[] = {0.75f, 0.5f, 0.25f, 0.0f};
constexpr int FadeSteps = int(std::size(FadeGains));
constexpr int ChorusTailBlocks = 8;
// Blocks a silencing waits at most for ended voices to be counted out.
constexpr int MaxVoiceWait = 24;
// A reset empties the reverb but for a residue that its filters feed back over the next few
// blocks (about -50 dB of what it held); a second reset this many blocks later clears that too.
constexpr int SettleBlocks = 4;

float attenuationCentibels(float gain)
{
    return gain > 0 ? -200.0f * std::log10(gain) : 1440.0f; // 1440 cB: the synthesizer's floor
}

} // namespace

void SynthEngine::requestSilence()
{
    pendingSilence_ = true;
    schedule(timerData(SilenceRequest, 0, 0), now(), false);
}

bool SynthEngine::silenceBusy() const
{
    return silencePhase_ != SilencePhase::Idle || pendingSilence_.load();
}

void SynthEngine::silenceStep(unsigned int time, bool continuation)
{
    if (silencePhase_ == SilencePhase::Idle) {
        if (continuation || !pendingSilence_.exchange(false))
            return;
        if (!soundSinceReset_) {
            resetSynth(); // nothing sounds, not even an effect tail
            finishSilence(time);
            return;
        }
        silencePhase_ = SilencePhase::Fade;
        phaseBlocks_ = 0;
    } else if (!continuation) {
        return; // a silencing is under way; its end looks at the new request
    }
    switch (silencePhase_) {
    case SilencePhase::Idle:
        return;
    case SilencePhase::Fade: {
        const float gain = FadeGains[phaseBlocks_];
        for (int channel = 0; channel < Channels; ++channel)
            fluid_synth_set_gen(synth_, channel, GEN_ATTENUATION, attenuationCentibels(gain));
        // The reverb rings on after its input has gone; its output follows the voices.
        fluid_synth_set_reverb_group_level(synth_, -1, reverbLevel_ * gain);
        if (++phaseBlocks_ == FadeSteps)
            enterPhase(SilencePhase::Kill);
        break;
    }
    case SilencePhase::Kill:
        // Silent now: end every voice, sustained and releasing ones too.
        fluid_synth_all_sounds_off(synth_, -1);
        enterPhase(SilencePhase::WaitForTails);
        break;
    case SilencePhase::WaitForTails:
        // Ended voices are counted out a block or two later; a reset lifts the attenuation, so
        // before that it would let them be heard, and feed the reverb. The reset also empties
        // the chorus, which must have played out its faded input by then.
        ++phaseBlocks_;
        if ((phaseBlocks_ >= ChorusTailBlocks && fluid_synth_get_active_voice_count(synth_) == 0) ||
            phaseBlocks_ >= MaxVoiceWait) {
            resetSynth();
            enterPhase(SilencePhase::Settle);
        }
        break;
    case SilencePhase::Settle:
        if (++phaseBlocks_ < SettleBlocks)
            break;
        resetSynth();
        fluid_synth_set_reverb_group_level(synth_, -1, reverbLevel_);
        setEffectsOn(false);
        silencePhase_ = SilencePhase::Idle;
        finishSilence(time);
        return;
    }
    schedule(timerData(SilenceStep, 0, 0), time + 1, true);
}

void SynthEngine::enterPhase(SilencePhase phase)
{
    silencePhase_ = phase;
    phaseBlocks_ = 0;
}

void SynthEngine::resetSynth()
{
    // Resets all 16 channels (controllers, programs, generator offsets) and the effects.
    fluid_synth_system_reset(synth_);
    for (int channel = 0; channel < Channels; ++channel)
        fluid_synth_set_gen(synth_, channel, GEN_ATTENUATION, 0.0f);
    soundSinceReset_ = false;
}

void SynthEngine::finishSilence(unsigned int time)
{
    if (pendingSilence_.load())
        schedule(timerData(SilenceRequest, 0, 0), time + 1, true);
}

} // namespace midiout
