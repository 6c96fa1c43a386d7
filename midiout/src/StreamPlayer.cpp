#include "StreamPlayer.h"

#include <midiout/Output.h>

#include <QCoreApplication>

namespace midiout
{

void postNotification(QObject *receiver, Notification notification)
{
    if (receiver != nullptr)
        QCoreApplication::postEvent(receiver, new NotificationEvent(notification));
}

StreamPlayer::StreamPlayer(QObject *receiver) : receiver_(receiver) {}

bool StreamPlayer::setTimeDivision(int ticksPerQuarter)
{
    if (ticksPerQuarter <= 0)
        return false;
    std::lock_guard lock(mutex_);
    timeDivision_ = ticksPerQuarter;
    return true;
}

int StreamPlayer::timeDivision() const
{
    std::lock_guard lock(mutex_);
    return timeDivision_;
}

double StreamPlayer::tickFrames(double sampleRate) const
{
    return TempoMicroseconds / timeDivision() * sampleRate / 1e6;
}

bool StreamPlayer::queue(const std::uint8_t *data, std::size_t length)
{
    if (data == nullptr || length == 0 || length % StreamEvent::Size != 0)
        return false;
    std::lock_guard lock(mutex_);
    if (closed_ || data_ != nullptr)
        return false;
    data_ = data;
    length_ = length;
    position_ = 0;
    passStarted_ = false;
    return true;
}

std::optional<std::uint64_t> StreamPlayer::start()
{
    std::lock_guard lock(mutex_);
    if (closed_ || running_)
        return std::nullopt;
    running_ = true;
    nextTick_ = 0;
    return ++run_;
}

bool StreamPlayer::isClosed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

void StreamPlayer::stop()
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    running_ = false;
    ++run_;
    if (data_ != nullptr) {
        data_ = nullptr;
        length_ = 0;
        passStarted_ = false;
        postNotification(receiver_, Notification::Done);
    }
}

bool StreamPlayer::close()
{
    std::lock_guard lock(mutex_);
    const bool wasRunning = running_ && !closed_;
    closed_ = true;
    running_ = false;
    ++run_;
    data_ = nullptr;
    length_ = 0;
    return wasRunning;
}

std::uint32_t StreamPlayer::word(std::size_t offset, int index) const
{
    return StreamEvent::readWord(data_ + offset + 4 * index);
}

std::optional<std::uint64_t> StreamPlayer::playNextTick(std::uint64_t run, EventSink &sink)
{
    std::lock_guard lock(mutex_);
    if (closed_ || !running_ || run != run_)
        return std::nullopt;
    const std::uint64_t tick = nextTick_++;
    if (data_ == nullptr)
        return tick;
    if (!passStarted_) {
        // A pass starts at the first tick that sees its buffer: right after the previous pass's
        // last tick when the buffer was queued in time, so passes follow without drift.
        passStarted_ = true;
        position_ = 0;
        nextEventTick_ = tick + word(0, 0);
    }
    while (position_ < length_ && nextEventTick_ <= tick) {
        const StreamEvent event = StreamEvent::decode(data_ + position_);
        // Other types than a short message carry no message but keep their time.
        if (event.isShortMessage())
            sink.shortMessage(event.status(), event.data1(), event.data2(), tick);
        if (event.hasCallback())
            postNotification(receiver_, Notification::Position);
        position_ += StreamEvent::Size;
        if (position_ < length_)
            nextEventTick_ += word(position_, 0);
    }
    if (position_ >= length_) {
        data_ = nullptr;
        length_ = 0;
        passStarted_ = false;
        postNotification(receiver_, Notification::Done);
    }
    return tick;
}

} // namespace midiout
