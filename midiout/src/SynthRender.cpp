// The rendering function of every path: the audio driver's callback and the offline renderer.
// Before each block of 64 frames it runs the commands of the GUI side, hands the synthesizer the
// stream events due by the block's first frame, in buffer order, and renders the block.

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
// MuteFrames for the reverb's residue.
constexpr int FadeFrames = 256;
constexpr int ResetFrames = FadeFrames + 2 * SynthEngine::BlockFrames;
constexpr int MuteFrames = FadeFrames + 6 * SynthEngine::BlockFrames;

} // namespace

int SynthEngine::audioCallback(void *data, int len, int, float *[], int nout, float *out[])
{
    // Real-time code, run on the audio driver's thread: no lock that another thread holds for
    // more than a few microseconds (the synthesizer's own, which the GUI side takes only for
    // short calls, or while nothing sounds), no allocation, no Qt call, no blocking system call.
    // Everything from and to the GUI side goes through wait-free queues and atomics; the wake-up
    // is a non-blocking write to an eventfd.
    if (nout < 2 || len < 0)
        return FLUID_FAILED;
    static_cast<SynthEngine *>(data)->render(out[0], out[1], std::size_t(len));
    return FLUID_OK;
}

void SynthEngine::render(float *left, float *right, std::size_t frames)
{
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
    rendering_.store(true);
    if (!loading_.load() && synth_ != nullptr) {
        const bool wasQuiet = quiet_.load(std::memory_order_relaxed);
        runCommands(blockStart);
        while (silenceFrames_ < 0 && player_.running() &&
               dueFrame(player_.nextTick()) <= blockStart)
            player_.playNextTick(*this);
        float *out[2] = {blockLeft_, blockRight_};
        float *fx[4] = {blockLeft_, blockRight_, blockLeft_, blockRight_}; // effects mixed in
        fluid_->fluid_synth_process(synth_, BlockFrames, 4, fx, 2, out);
        silenceBlock();
        const bool quiet = silenceFrames_ < 0 && !soundSinceReset_;
        quiet_.store(quiet);
        reported_ = reported_ || (quiet && !wasQuiet);
    }
    rendering_.store(false);
    ++blocks_;
    blockUsed_ = 0;
    frames_.store(blocks_ * BlockFrames, std::memory_order_release);
    if (reported_ && wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one); // non-blocking
    }
    reported_ = false;
}

void SynthEngine::runCommands(std::uint64_t blockStart)
{
    Command c;
    while (commands_.pop(c)) {
        if (c.kind != Command::Open && c.stream != current_)
            continue; // of a stream closed since
        switch (c.kind) {
        case Command::Open:
            current_ = c.stream;
            player_.stop();
            tickFrames_ = OpenTickFrames;
            break;
        case Command::TimeDivision:
            if (player_.running()) {
                anchorFrame_ = dueFrame(player_.nextTick());
                anchorTick_ = player_.nextTick();
            }
            tickFrames_ = c.tickFrames;
            break;
        case Command::Queue:
            player_.queue(c.data, c.length, c.buffer);
            break;
        case Command::Start:
            if (!player_.running()) {
                player_.start();
                anchorFrame_ = blockStart; // tick 0 is due at once
                anchorTick_ = 0;
            }
            break;
        case Command::Stop:
            player_.stop();
            beginSilence();
            break;
        case Command::Reset:
            beginSilence();
            break;
        case Command::Close:
            if (player_.running())
                beginSilence(); // no hanging notes
            player_.stop();
            current_ = 0;
            break;
        }
    }
}

std::uint64_t SynthEngine::dueFrame(std::uint64_t tick) const
{
    return anchorFrame_ + std::uint64_t(std::llround(double(tick - anchorTick_) * tickFrames_));
}

void SynthEngine::shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                               std::uint64_t)
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
            soundSinceReset_ = true;
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

void SynthEngine::notify(Notification notification, std::uint32_t buffer)
{
    reports_.push({current_, buffer, notification});
    reported_ = true;
}

void SynthEngine::beginSilence()
{
    if (silenceFrames_ >= 0)
        return; // nothing new sounds while a silencing is under way
    if (soundSinceReset_)
        silenceFrames_ = 0;
    else
        resetSynth(); // nothing sounds, not even an effect's tail
}

void SynthEngine::silenceBlock()
{
    if (silenceFrames_ < 0)
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
    soundSinceReset_ = false;
    silenceFrames_ = -1;
}

} // namespace midiout
