#pragma once

// A stream on a SynthEngine: a StreamPlayer whose ticks are timer events of the engine's
// sequencer, each sent for the audio block in which its events must be handed over. stop(),
// reset() and the close() of a running stream silence the whole synthesizer from its next audio
// block on and reset it (controllers and programs of all channels); no stream of the engine hands
// anything over until that is done, about 25 ms when something sounded, else one block.

#include "StreamPlayer.h"
#include <midiout/Output.h>

#include <cstdint>

namespace midiout
{

class SynthEngine;

class SynthStream final : public Stream, private EventSink
{
public:
    // Registers with the engine; the caller posts Open.
    SynthStream(SynthEngine &engine, QObject *receiver);
    // Closes the stream without posting Close when close() was not called.
    ~SynthStream() override;

    void reset() override;
    bool setTimeDivision(int ticksPerQuarter) override;
    bool queue(const std::uint8_t *data, std::size_t length) override;
    bool restart() override;
    void stop() override;
    void close() override;

    // Timer thread, with the engine's stream lock held: plays one tick of run `run` (its first
    // when start is set) in the block whose sequencer time is `time`, and schedules the next.
    void onTimer(bool start, std::uint64_t run, unsigned int time);

private:
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint64_t tick) override;
    std::uint64_t dueFrame(std::uint64_t tick) const;
    void detach();

    SynthEngine &engine_;
    QObject *receiver_;
    StreamPlayer player_;
    std::uint32_t id_ = 0;
    bool closed_ = false;
    // Timer thread only: the run's time line, in frames of the synthesizer's clock.
    std::uint64_t anchorFrame_ = 0;
    std::uint64_t anchorTick_ = 0;
    double tickFrames_ = 0;
    std::uint64_t expectedTick_ = 0;
    std::uint64_t handedFrame_ = 0;
    std::uint64_t currentDue_ = 0;
};

} // namespace midiout
