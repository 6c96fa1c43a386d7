#pragma once

// The scheduling of one stream on a sample clock: it follows the play state that the
// application's thread publishes, holds the buffer being played, its position, the tick counter
// and the frame each tick is due at. The synthesizer's renderer and the graph port's cycle writer
// each own one and run it on their real-time thread: no lock, no allocation, no Qt.

#include "EngineCrossing.h"

#include <midiout/MidiMessages.h>
#include <midiout/Output.h>

#include <cstddef>
#include <cstdint>

namespace midiout
{

class StreamPlayer
{
public:
    // The clock's frames per second; set before the first follow() (a graph may change it
    // between cycles: later ticks follow the new rate).
    void setRate(double rate);

    // Takes in the latest play state at `frame`, the first frame not yet played: a new stream
    // or a stop stands the clock and drops the buffer; a buffer handed over is queued; a
    // restart starts the clock with tick 0 due at `frame`. True when what sounds is to be
    // silenced (a new stream, a stop or a reset).
    bool follow(const PlayState &state, std::uint64_t frame);
    // The play state last taken in.
    const PlayState &seen() const { return seen_; }

    // Takes a buffer of 12-byte stream events (length a non-zero multiple of 12) that stays
    // valid until it has played out or is replaced; replaces a buffer still queued. `number`
    // comes back with its notifications. Null drops the buffer.
    void queue(const std::uint8_t *data, std::size_t length, std::uint32_t number);
    // Starts the clock at tick 0 when it is not running.
    void start();
    // Pauses the clock and drops the buffer, without notification.
    void stop();
    bool running() const { return running_; }
    // The tick that playNextTick() plays next.
    std::uint64_t nextTick() const { return nextTick_; }
    // The frame at which tick is due.
    std::uint64_t dueFrame(std::uint64_t tick) const;
    // The tick of the next event to play; NoEvent while paused or without a buffer.
    static constexpr std::uint64_t NoEvent = ~std::uint64_t(0);
    std::uint64_t nextEventTick() const
    {
        if (!running_ || data_ == nullptr)
            return NoEvent;
        return passStarted_ ? nextEventTick_ : nextTick_ + StreamEvent::readWord(data_);
    }

    // Plays the next tick: a buffer seen for the first time starts its pass at this tick; every
    // short message due now goes to message(status, data1, data2) in buffer order; the
    // callback-flagged event calls notify(Position, number), the end of the buffer
    // notify(Done, number). Nothing when the clock is paused.
    template <typename Message, typename Notify> void playNextTick(Message message, Notify notify)
    {
        if (!running_)
            return;
        const std::uint64_t tick = nextTick_++;
        if (data_ == nullptr)
            return;
        if (!passStarted_) {
            // A pass starts at the first tick that sees its buffer: right after the previous
            // pass's last tick when the buffer was queued in time, so passes follow without drift.
            passStarted_ = true;
            position_ = 0;
            nextEventTick_ = tick + StreamEvent::readWord(data_);
        }
        while (position_ < length_ && nextEventTick_ <= tick) {
            const StreamEvent event = StreamEvent::decode(data_ + position_);
            // Other types than a short message carry no message but keep their time.
            if (event.isShortMessage())
                message(event.status(), event.data1(), event.data2());
            if (event.hasCallback())
                notify(Notification::Position, number_);
            position_ += StreamEvent::Size;
            if (position_ < length_)
                nextEventTick_ += StreamEvent::readWord(data_ + position_);
        }
        if (position_ >= length_) {
            const std::uint32_t number = number_;
            queue(nullptr, 0, 0);
            notify(Notification::Done, number);
        }
    }

private:
    void anchorNextTick();

    PlayState seen_;
    double rate_ = SampleRate;
    double tickMicroseconds_ = PlayState::OpenTickMicroseconds;
    std::uint64_t anchorFrame_ = 0, anchorTick_ = 0; // tick anchorTick_ is due at anchorFrame_
    std::uint32_t handedOver_ = 0; // the number of the play state's buffer taken in, 0 for none

    const std::uint8_t *data_ = nullptr;
    std::size_t length_ = 0;
    std::uint32_t number_ = 0;
    std::size_t position_ = 0; // byte offset of the next event of the pass
    bool passStarted_ = false;
    std::uint64_t nextEventTick_ = 0;
    bool running_ = false;
    std::uint64_t nextTick_ = 0;
};

} // namespace midiout
