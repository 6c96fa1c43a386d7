// The audio side: the rendering function of every path, the sink's real-time callback and the
// offline renderer. Before each block of 64 frames it follows the latest PlayState, hands the
// synthesizer the stream events due by the block's first frame, in buffer order, and renders.

#include "SynthEngine.h"

#include <midiout/MidiMessages.h>
#include <midiout/Output.h>

#include "FluidApi.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace midiout
{

namespace
{

// A stop fades the output to silence over FadeFrames (5.8 ms), then ends every voice and mutes
// the output until MuteFrames. At ResetFrames, once the ended voices are gone (a reset before
// that would let them play on), the synthesizer and its effects are reset, and again at
// MuteFrames for the reverb's residue. A stream opened meanwhile starts after MuteFrames.
constexpr int FadeFrames = 256;
constexpr int ResetFrames = FadeFrames + 2 * SynthEngine::BlockFrames;
constexpr int MuteFrames = FadeFrames + 6 * SynthEngine::BlockFrames;

} // namespace

void SynthEngine::renderInto(void *engine, float *left, float *right, std::size_t frames)
{
    static_cast<SynthEngine *>(engine)->render(left, right, frames);
}

void SynthEngine::render(float *left, float *right, std::size_t frames)
{
    // Real-time code: no lock but a try-lock, no allocation, no Qt call, no blocking call.
    while (frames > 0) {
        if (blockUsed_ == BlockFrames)
            renderBlock();
        const std::size_t n = std::min(frames, std::size_t(BlockFrames - blockUsed_));
        std::memcpy(left, blockLeft_ + blockUsed_, n * sizeof(float));
        std::memcpy(right, blockRight_ + blockUsed_, n * sizeof(float));
        left += n;
        right += n;
        frames -= n;
        blockUsed_ += int(n);
    }
}

void SynthEngine::renderBlock()
{
    const std::uint64_t blockStart = blocks_ * BlockFrames;
    std::fill(std::begin(blockLeft_), std::end(blockLeft_), 0.0f);
    std::fill(std::begin(blockRight_), std::end(blockRight_), 0.0f);
    // A preset load holds the synthesizer only while nothing sounds: the block is silent then,
    // and what the control side asked for waits for the next one.
    if (synth_ != nullptr && enterSynth()) {
        const bool quietAtStart = quiet();
        follow(played_.read(), blockStart);
        while (sound_.load(std::memory_order_relaxed) != Sound::Silencing && player_.running() &&
               dueFrame(player_.nextTick()) <= blockStart)
            player_.playNextTick(
                [this](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
                    shortMessage(status, data1, data2);
                },
                [this](Notification n, std::uint32_t buffer) { report(n, buffer); });
        float *out[2] = {blockLeft_, blockRight_};
        float *fx[4] = {blockLeft_, blockRight_, blockLeft_, blockRight_}; // effects mixed in
        fluid_->fluid_synth_process(synth_, BlockFrames, 4, fx, 2, out);
        silenceBlock();
        if (!quietAtStart && quiet())
            reported_ = true; // a buffer may wait for this silence to load its presets
        synthLock_.unlock();
    }
    ++blocks_;
    blockUsed_ = 0;
    frames_.store(blocks_ * BlockFrames, std::memory_order_release);
    if (reported_)
        wake();
    reported_ = false;
}

bool SynthEngine::enterSynth()
{
    if (synthLock_.try_lock())
        return true;
    if (quiet())
        return false; // a preset load: the block stays silent, as the synthesizer is
    // While something sounds a load only looks at the state and lets go within instructions.
    for (int i = 0; i < 1000; ++i)
        if (synthLock_.try_lock())
            return true;
    return false;
}

void SynthEngine::follow(const PlayState &state, std::uint64_t blockStart)
{
    if (state.stream != seen_.stream) {
        // Another stream, or none: whatever the last one left sounding fades.
        player_.stop();
        playerBuffer_ = 0;
        tickFrames_ = PlayState::OpenTickFrames;
        beginSilence();
    }
    if (state.stops != seen_.stops) {
        player_.stop();
        playerBuffer_ = 0;
    }
    if (state.stops != seen_.stops || state.resets != seen_.resets)
        beginSilence();
    if (state.tickFrames != tickFrames_) {
        if (player_.running()) { // the next tick keeps its frame; later ones follow the new rate
            anchorFrame_ = dueFrame(player_.nextTick());
            anchorTick_ = player_.nextTick();
        }
        tickFrames_ = state.tickFrames;
    }
    if (state.data == nullptr)
        player_.queue(nullptr, 0, 0); // its memory may be freed once this block is over
    else if (state.buffer != playerBuffer_)
        player_.queue(state.data, state.length, state.buffer);
    playerBuffer_ = state.buffer;
    if (state.running && !player_.running()) {
        player_.start();
        anchorFrame_ = blockStart; // tick 0 is due at once
        anchorTick_ = 0;
    }
    seen_ = state;
}

std::uint64_t SynthEngine::dueFrame(std::uint64_t tick) const
{
    return anchorFrame_ + std::uint64_t(std::llround(double(tick - anchorTick_) * tickFrames_));
}

void SynthEngine::shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int channel = status & StatusChannelMask;
    data1 &= DataByteMask;
    data2 &= DataByteMask;
    switch (status & StatusKindMask) {
    case NoteOffStatus:
        fluid_->fluid_synth_noteoff(synth_, channel, data1);
        break;
    case NoteOnStatus:
        if (data2 == 0) {
            fluid_->fluid_synth_noteoff(synth_, channel, data1);
        } else {
            fluid_->fluid_synth_noteon(synth_, channel, data1, data2);
            if (sound_.load(std::memory_order_relaxed) == Sound::Quiet)
                sound_.store(Sound::Sounding);
        }
        break;
    case ControlChangeStatus:
        fluid_->fluid_synth_cc(synth_, channel, data1, data2);
        break;
    case ProgramChangeStatus:
        fluid_->fluid_synth_program_change(synth_, channel, data1);
        break;
    case PitchBendStatus:
        fluid_->fluid_synth_pitch_bend(synth_, channel, data1 | data2 << 7);
        break;
    }
}

void SynthEngine::report(Notification notification, std::uint32_t buffer)
{
    if (!reports_.push({seen_.stream, buffer, notification}))
        reportsLost_.store(true); // the service thread ends the stream rather than lose its end
    reported_ = true;
}

void SynthEngine::wake()
{
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one); // non-blocking
    }
}

void SynthEngine::beginSilence()
{
    switch (sound_.load(std::memory_order_relaxed)) {
    case Sound::Silencing:
        return; // nothing new sounds while a silencing is under way
    case Sound::Sounding:
        sound_.store(Sound::Silencing);
        silenceFrames_ = 0;
        return;
    case Sound::Quiet:
        resetSynth(); // nothing sounds, not even an effect's tail
        return;
    }
}

void SynthEngine::silenceBlock()
{
    if (sound_.load(std::memory_order_relaxed) != Sound::Silencing)
        return;
    for (int i = 0; i < BlockFrames; ++i) {
        const float gain = std::max(0.0f, 1.0f - float(silenceFrames_ + i) / FadeFrames);
        blockLeft_[i] *= gain;
        blockRight_[i] *= gain;
    }
    silenceFrames_ += BlockFrames;
    if (silenceFrames_ == FadeFrames)
        fluid_->fluid_synth_all_sounds_off(synth_, -1); // sustained and releasing voices too
    if (silenceFrames_ == ResetFrames)
        fluid_->fluid_synth_system_reset(synth_);
    if (silenceFrames_ == MuteFrames)
        resetSynth();
}

void SynthEngine::resetSynth()
{
    // All 16 channels (controllers, programs) and the effects; the silencing, if any, is over.
    fluid_->fluid_synth_system_reset(synth_);
    sound_.store(Sound::Quiet);
}

} // namespace midiout
