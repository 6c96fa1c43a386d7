#include "StreamPlayer.h"

#include <midiout/Output.h>

namespace midiout
{

void StreamPlayer::queue(const std::uint8_t *data, std::size_t length, std::uint32_t number)
{
    data_ = data;
    length_ = length;
    number_ = number;
    position_ = 0;
    passStarted_ = false;
}

void StreamPlayer::start()
{
    if (running_)
        return;
    running_ = true;
    nextTick_ = 0;
}

void StreamPlayer::stop()
{
    running_ = false;
    data_ = nullptr;
    length_ = 0;
    passStarted_ = false;
}

std::uint32_t StreamPlayer::word(std::size_t offset, int index) const
{
    return StreamEvent::readWord(data_ + offset + 4 * index);
}

void StreamPlayer::playNextTick(EventSink &sink)
{
    if (!running_)
        return;
    const std::uint64_t tick = nextTick_++;
    if (data_ == nullptr)
        return;
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
            sink.notify(Notification::Position, number_);
        position_ += StreamEvent::Size;
        if (position_ < length_)
            nextEventTick_ += word(position_, 0);
    }
    if (position_ >= length_) {
        data_ = nullptr;
        length_ = 0;
        passStarted_ = false;
        sink.notify(Notification::Done, number_);
    }
}

} // namespace midiout
