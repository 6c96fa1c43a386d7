#include "StreamPlayer.h"

#include <cmath>

namespace midiout
{

void StreamPlayer::setRate(double rate)
{
    if (rate == rate_)
        return;
    if (running_)
        anchorNextTick();
    rate_ = rate;
}

bool StreamPlayer::follow(const PlayState &state, std::uint64_t frame)
{
    const bool newStream = state.stream != seen_.stream;
    const bool stopped = newStream || state.stops != seen_.stops;
    if (stopped) // the clock stands and the buffer goes
        stop();
    if (newStream)
        tickMicroseconds_ = PlayState::OpenTickMicroseconds;
    if (state.tickMicroseconds != tickMicroseconds_) {
        if (running_) // the next tick keeps its frame; later ones follow the new length
            anchorNextTick();
        tickMicroseconds_ = state.tickMicroseconds;
    }
    switch (state.state) {
    case StreamState::Closed:
    case StreamState::Opening:
    case StreamState::Closing: // nothing more of it plays; its buffer may be freed
        stop();
        break;
    case StreamState::Paused:
    case StreamState::Running:
        if (state.data == nullptr)
            queue(nullptr, 0, 0); // its memory may be freed once this pass over it is done
        else if (state.buffer != handedOver_)
            queue(state.data, state.length, state.buffer);
        handedOver_ = state.buffer;
        if (state.state == StreamState::Running &&
            (stopped || seen_.state != StreamState::Running)) {
            start(); // restarted: tick 0 is due at once
            anchorFrame_ = frame;
            anchorTick_ = 0;
        }
        break;
    }
    const bool silence = stopped || state.resets != seen_.resets;
    seen_ = state;
    return silence;
}

void StreamPlayer::anchorNextTick()
{
    anchorFrame_ = dueFrame(nextTick_);
    anchorTick_ = nextTick_;
}

std::uint64_t StreamPlayer::dueFrame(std::uint64_t tick) const
{
    return anchorFrame_ + std::uint64_t(std::llround(double(tick - anchorTick_) *
                                                     tickMicroseconds_ * rate_ / 1e6));
}

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
    handedOver_ = 0;
    queue(nullptr, 0, 0);
}

} // namespace midiout
