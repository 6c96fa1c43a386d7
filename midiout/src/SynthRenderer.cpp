#include "SynthRenderer.h"

#include "FluidApi.h"
#include "SynthCore.h"

#include <midiout/MidiMessages.h>

#include <algorithm>
#include <cmath>

namespace midiout
{

namespace
{

// A stop fades the output to silence over FadeFrames (5.8 ms), then ends every voice and mutes
// the output. At ResetFrames, once the ended voices are gone (a reset before that would let them
// play on), the synthesizer and its effects are reset; a stream that waits to start plays from
// the next block (what the reverb may still hold lies under its sound). Without one the output
// stays muted and the reset is repeated every block until MuteFrames: a single reset does not
// always clear the reverb, and its residue would be heard after a stop.
constexpr int FadeFrames = 256;
constexpr int ResetFrames = FadeFrames + 2 * SynthRenderer::BlockFrames;
constexpr int MuteFrames = FadeFrames + 60 * SynthRenderer::BlockFrames;

} // namespace

void SynthRenderer::renderInto(void *renderer, float *out, std::size_t frames,
                               std::size_t queuedFrames)
{
    static_cast<SynthRenderer *>(renderer)->render(out, frames, queuedFrames);
}

void SynthRenderer::render(float *out, std::size_t frames, std::size_t queuedFrames)
{
    const std::uint32_t generation = crossing_.sinkGeneration.load(std::memory_order_acquire);
    if (generation != generation_) {
        // A new sink: nothing the last one left sounding or half-rendered is heard on it.
        generation_ = generation;
        cleanStart_ = true;
        blockUsed_ = BlockFrames;
    }
    // The first frame of this call is heard once the sink has played what it holds before it;
    // more than half a second is not believed (a server that tells nothing sensible).
    queuedFrames = std::min(queuedFrames, std::size_t(SampleRate / 2));
    const std::uint64_t heard = handedOut_ - std::min<std::uint64_t>(handedOut_, queuedFrames);
    if (heard > crossing_.heard.load(std::memory_order_relaxed))
        crossing_.heard.store(heard, std::memory_order_release);
    const PlayState &seen = player_.seen();
    if (seen.state == StreamState::Closing && heard >= seen.wakeWhenHeard &&
        heardWoken_ != seen.stream) {
        heardWoken_ = seen.stream;
        wakeControl_ = true;
    }
    for (std::size_t done = 0; done < frames;) {
        if (blockUsed_ == BlockFrames && frames - done >= std::size_t(BlockFrames)) {
            renderBlock(out + Channels * done);
            done += BlockFrames;
            handedOut_ += BlockFrames;
            continue;
        }
        if (blockUsed_ == BlockFrames) {
            renderBlock(block_);
            blockUsed_ = 0;
        }
        const std::size_t n = std::min(frames - done, std::size_t(BlockFrames - blockUsed_));
        std::copy_n(block_ + Channels * blockUsed_, Channels * n, out + Channels * done);
        done += n;
        blockUsed_ += int(n);
        handedOut_ += n;
    }
    if (wakeControl_)
        crossing_.controlWake.signal(); // non-blocking
    wakeControl_ = false;
}

void SynthRenderer::renderBlock(float *block)
{
    const std::uint64_t blockStart = blocks_ * BlockFrames;
    bool rendered = false;
    // A preset load holds the synthesizer only while nothing sounds: the block is silent then,
    // and what the application's thread asked for waits for the next one.
    if (core_.state() == SynthCore::Load::Loaded && enterSynth()) {
        if (cleanStart_) {
            cleanStart_ = false;
            core_.fluid().fluid_synth_all_sounds_off(core_.synth(), -1);
            player_.stop();
            resetSynth();
            wakeControl_ = true; // a buffer may wait for this silence to load its presets
        }
        const bool quietAtStart = sound() == Sound::Quiet;
        if (player_.follow(crossing_.played.read(), blockStart))
            beginSilence(); // what sounds fades
        while (sound() != Sound::Silencing && player_.running() &&
               player_.dueFrame(player_.nextTick()) <= blockStart)
            player_.playNextTick(
                [this](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
                    shortMessage(status, data1, data2);
                },
                [this](Notification n, std::uint32_t buffer) { report(n, buffer); });
        effects_.beforeBlock();
        // Interleaved, the effects mixed in.
        core_.fluid().fluid_synth_write_float(core_.synth(), BlockFrames, block, 0, Channels, block,
                                              1, Channels);
        rendered = true;
        silenceBlock(block);
        if (!quietAtStart && sound() == Sound::Quiet)
            wakeControl_ = true; // a buffer may wait for this silence to load its presets
        crossing_.synthLock.unlock();
    }
    if (!rendered)
        std::fill_n(block, Channels * BlockFrames, 0.0f);
    ++blocks_;
    crossing_.frames.store(blocks_ * BlockFrames, std::memory_order_release);
}

bool SynthRenderer::enterSynth()
{
    if (crossing_.synthLock.try_lock())
        return true;
    if (sound() == Sound::Quiet)
        return false; // a preset load: the block stays silent, as the synthesizer is
    // While something sounds a load only looks at the state and lets go within instructions.
    for (int i = 0; i < 1000; ++i)
        if (crossing_.synthLock.try_lock())
            return true;
    return false;
}

void SynthRenderer::shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const FluidApi &fluid = core_.fluid();
    fluid_synth_t *synth = core_.synth();
    const int channel = status & StatusChannelMask;
    data1 &= DataByteMask;
    data2 &= DataByteMask;
    switch (status & StatusKindMask) {
    case NoteOffStatus:
        fluid.fluid_synth_noteoff(synth, channel, data1);
        break;
    case NoteOnStatus:
        if (data2 == 0) {
            fluid.fluid_synth_noteoff(synth, channel, data1);
        } else {
            fluid.fluid_synth_noteon(synth, channel, data1, data2);
            effects_.noteStarted();
            if (sound() == Sound::Quiet)
                crossing_.sound.store(Sound::Sounding);
        }
        break;
    case ControlChangeStatus:
        fluid.fluid_synth_cc(synth, channel, data1, data2);
        effects_.controlChanged(channel);
        break;
    case ProgramChangeStatus:
        fluid.fluid_synth_program_change(synth, channel, data1);
        break;
    case PitchBendStatus:
        fluid.fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7);
        break;
    }
}

void SynthRenderer::report(Notification notification, std::uint32_t buffer)
{
    if (!crossing_.reports.push({player_.seen().stream, buffer, notification}))
        crossing_.reportsLost.store(true); // the stream is ended rather than lose its end
    wakeControl_ = true;
}

void SynthRenderer::beginSilence()
{
    switch (sound()) {
    case Sound::Silencing:
        return; // nothing new sounds while a silencing is under way
    case Sound::Sounding:
        crossing_.sound.store(Sound::Silencing);
        silenceFrames_ = 0;
        return;
    case Sound::Quiet:
        resetSynth(); // nothing sounds, not even an effect's tail
        return;
    }
}

void SynthRenderer::silenceBlock(float *block)
{
    if (sound() != Sound::Silencing)
        return;
    for (int i = 0; i < BlockFrames; ++i) {
        const float gain = std::max(0.0f, 1.0f - float(silenceFrames_ + i) / FadeFrames);
        block[Channels * i] *= gain;
        block[Channels * i + 1] *= gain;
    }
    silenceFrames_ += BlockFrames;
    if (silenceFrames_ == FadeFrames)
        core_.fluid().fluid_synth_all_sounds_off(core_.synth(), -1); // sustained ones too
    if (silenceFrames_ < ResetFrames)
        return;
    core_.fluid().fluid_synth_system_reset(core_.synth());
    effects_.channelsReset();
    const std::uint64_t next = player_.nextEventTick();
    const bool waits =
        player_.running() &&
        (player_.seen().data == nullptr || // its buffer's presets load
         (next != StreamPlayer::NoEvent && player_.dueFrame(next) <= (blocks_ + 1) * BlockFrames));
    if (waits || silenceFrames_ >= MuteFrames)
        crossing_.sound.store(Sound::Quiet); // a waiting stream plays on the fresh reset
}

void SynthRenderer::resetSynth()
{
    // All 16 channels (controllers, programs) and the effects; the silencing, if any, is over.
    core_.fluid().fluid_synth_system_reset(core_.synth());
    effects_.channelsReset();
    crossing_.sound.store(Sound::Quiet);
}

} // namespace midiout
