#pragma once

// The scheduling shared by every engine: the queued buffer, its position and the stream's tick
// clock. An engine calls playNextTick() once per tick on its own clock; the player hands over the
// events due at that tick and posts the notifications.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

class QObject;

namespace midiout
{

enum class Notification;

// Receives the short messages of a stream, in buffer order.
class EventSink
{
public:
    virtual ~EventSink() = default;
    // One MIDI short message due at stream tick `tick`.
    virtual void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                              std::uint64_t tick) = 0;
};

// Posts a notification to receiver through QCoreApplication::postEvent (nothing for null).
void postNotification(QObject *receiver, Notification notification);

// All members are thread-safe. The lock is held while events go to the sink and while
// notifications are posted, so a sink must not call back into the player.
class StreamPlayer
{
public:
    static constexpr double TempoMicroseconds = 500000.0; // per quarter note, fixed
    static constexpr int DefaultTimeDivision = 96;

    explicit StreamPlayer(QObject *receiver);

    // Ticks per quarter note; false (and no change) for a value that is not positive.
    bool setTimeDivision(int ticksPerQuarter);
    int timeDivision() const;
    // Length of one tick in frames at the given sample rate.
    double tickFrames(double sampleRate) const;

    // Takes a buffer of 12-byte stream events that stays valid until its Done. False when the
    // player is closed, a buffer is queued, data is null or length is 0 or not a multiple of 12.
    bool queue(const std::uint8_t *data, std::size_t length);
    // Starts the clock when it is not running: returns the new run's number (never 0), whose
    // first tick is 0. Nothing when it already runs or the player is closed.
    std::optional<std::uint64_t> start();
    bool isClosed() const;
    // Pauses the clock and returns the queued buffer with a Done notification (none when nothing
    // is queued). The next start() begins afresh at tick 0.
    void stop();
    // Drops the buffer without notification and refuses everything from now on; nothing is
    // posted after it. Returns whether the clock was running.
    bool close();

    // Plays the next tick of run `run`: a buffer seen for the first time starts its pass at this
    // tick; every event due now goes to the sink in buffer order; the callback-flagged event posts
    // Position, the end of the buffer posts Done. Returns the tick played, or nothing when the run
    // is not the current one (stopped, restarted or closed since).
    std::optional<std::uint64_t> playNextTick(std::uint64_t run, EventSink &sink);

private:
    std::uint32_t word(std::size_t offset, int index) const;

    mutable std::mutex mutex_;
    QObject *receiver_;
    int timeDivision_ = DefaultTimeDivision;
    const std::uint8_t *data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t position_ = 0; // byte offset of the next event of the pass
    bool passStarted_ = false;
    std::uint64_t nextEventTick_ = 0;
    bool running_ = false;
    bool closed_ = false;
    std::uint64_t run_ = 0;
    std::uint64_t nextTick_ = 0;
};

} // namespace midiout
