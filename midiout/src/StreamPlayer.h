#pragma once

// The scheduling of one stream on the synthesizer's clock: the buffer being played, its position
// and the tick counter. It runs on the thread that renders (the audio callback, or the offline
// renderer): no lock, no allocation, no Qt.

#include <cstddef>
#include <cstdint>

namespace midiout
{

enum class Notification;

// Receives what a stream plays, in buffer order.
class EventSink
{
public:
    virtual ~EventSink() = default;
    // One MIDI short message due at stream tick `tick`.
    virtual void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                              std::uint64_t tick) = 0;
    // Position (the callback-flagged event was played) or Done (the buffer has played out) of
    // the buffer queued with number `buffer`.
    virtual void notify(Notification notification, std::uint32_t buffer) = 0;
};

class StreamPlayer
{
public:
    // Takes a buffer of 12-byte stream events (length a non-zero multiple of 12) that stays
    // valid until its Done; replaces a buffer still queued. `number` comes back with its
    // notifications.
    void queue(const std::uint8_t *data, std::size_t length, std::uint32_t number);
    // Starts the clock at tick 0 when it is not running.
    void start();
    // Pauses the clock and drops the buffer, without notification.
    void stop();
    bool running() const { return running_; }
    // The tick that playNextTick() plays next.
    std::uint64_t nextTick() const { return nextTick_; }

    // Plays the next tick: a buffer seen for the first time starts its pass at this tick; every
    // event due now goes to the sink in buffer order; the callback-flagged event notifies
    // Position, the end of the buffer Done. Nothing when the clock is paused.
    void playNextTick(EventSink &sink);

private:
    std::uint32_t word(std::size_t offset, int index) const;

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
