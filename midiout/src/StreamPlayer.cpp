#include "StreamPlayer.h"

namespace midiout
{

void StreamPlayer::queue(const std::uint8_t *data, std::size_t length, std::uint32_t number)
{
    data_ = data;
    length_ = data == nullptr ? 0 : length;
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
    queue(nullptr, 0, 0);
}

} // namespace midiout
