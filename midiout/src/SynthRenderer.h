#pragma once

// The audio thread's side of the engine: the one rendering function of every path, the sink's
// real-time callback and the offline renderer. Before each block of 64 frames it follows the
// latest play state, hands the synthesizer the stream events due by the block's first frame, in
// buffer order, and renders. Only the audio thread touches it; it takes no lock but a try-lock of
// the synthesizer, allocates nothing, makes no Qt call and no blocking call.

#include "EffectsSwitch.h"
#include "EngineCrossing.h"
#include "StreamPlayer.h"

#include <cstddef>
#include <cstdint>

namespace midiout
{

class SynthCore;

class SynthRenderer
{
public:
    // Events are handed over before a block of this many frames and sound from its first frame.
    static constexpr int BlockFrames = 64;

    // switchEffects: the reverb and chorus run only while fed (EffectsSwitch), else always.
    SynthRenderer(SynthCore &core, EngineCrossing &crossing, bool switchEffects = true)
        : core_(core), crossing_(crossing), effects_(core, switchEffects)
    {
    }

    // Renders the next frames, interleaved stereo, once the synthesizer has loaded; the sink
    // holds queuedFrames frames ahead of them, not yet heard. Whole blocks are rendered straight
    // into out; a block that a call cuts is rendered aside and handed out in parts.
    void render(float *out, std::size_t frames, std::size_t queuedFrames);
    // render() for a sink's client.
    static void renderInto(void *renderer, float *out, std::size_t frames,
                           std::size_t queuedFrames);

    const EffectsSwitch &effects() const { return effects_; }

private:
    // Renders the next block into block (BlockFrames interleaved frames).
    void renderBlock(float *block);
    bool enterSynth();
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void report(Notification notification, std::uint32_t buffer);
    void beginSilence();
    void silenceBlock(float *block);
    void resetSynth();
    Sound sound() const { return crossing_.sound.load(std::memory_order_relaxed); }

    SynthCore &core_;
    EngineCrossing &crossing_;
    StreamPlayer player_;
    std::uint32_t generation_ = 0;
    std::uint64_t blocks_ = 0, handedOut_ = 0;
    int silenceFrames_ = 0;
    bool wakeControl_ = false;
    bool cleanStart_ = false;
    std::uint32_t heardWoken_ = 0; // the Closing stream whose heard end has been told
    EffectsSwitch effects_;
    float block_[Channels * BlockFrames] = {}; // a block handed out in parts
    int blockUsed_ = BlockFrames;
};

} // namespace midiout
