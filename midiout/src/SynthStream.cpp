#include "SynthStream.h"

#include "SynthEngine.h"

#include <cmath>

namespace midiout
{

SynthStream::SynthStream(SynthEngine &engine, QObject *receiver)
    : engine_(engine), receiver_(receiver), player_(receiver)
{
    id_ = engine_.attach(this);
}

SynthStream::~SynthStream()
{
    if (!closed_)
        detach();
}

void SynthStream::reset()
{
    if (!closed_)
        engine_.requestSilence();
}

bool SynthStream::setTimeDivision(int ticksPerQuarter)
{
    return !closed_ && player_.setTimeDivision(ticksPerQuarter);
}

bool SynthStream::queue(const std::uint8_t *data, std::size_t length)
{
    if (closed_ || data == nullptr || length == 0 || length % StreamEvent::Size != 0)
        return false;
    // Loads what the buffer will select now, so that the timer thread never loads samples.
    engine_.pinPresets(data, length);
    return player_.queue(data, length);
}

bool SynthStream::restart()
{
    if (closed_)
        return false;
    if (const auto run = player_.start())
        engine_.schedule(SynthEngine::timerData(SynthEngine::StreamStart, id_, *run), engine_.now(),
                         false);
    return true;
}

void SynthStream::stop()
{
    if (closed_)
        return;
    player_.stop();
    engine_.requestSilence();
}

void SynthStream::close()
{
    if (closed_)
        return;
    detach();
    postNotification(receiver_, Notification::Close);
}

void SynthStream::detach()
{
    closed_ = true;
    const bool wasRunning = player_.close();
    engine_.detach(id_); // waits for a timer of this stream that is running now
    if (wasRunning)
        engine_.requestSilence(); // no hanging notes from a stream closed while playing
}

std::uint64_t SynthStream::dueFrame(std::uint64_t tick) const
{
    return anchorFrame_ + std::uint64_t(std::llround(double(tick - anchorTick_) * tickFrames_));
}

void SynthStream::onTimer(bool start, std::uint64_t run, unsigned int time)
{
    const auto kind = start ? SynthEngine::StreamStart : SynthEngine::StreamTick;
    if (engine_.silenceBusy()) {
        // Nothing new sounds while notes are being faded out; the tick keeps its due frame.
        engine_.schedule(SynthEngine::timerData(kind, id_, run), time + 1, true);
        return;
    }
    const std::uint64_t block = engine_.blockAt(time);
    const double tickFrames = player_.tickFrames(SynthEngine::SampleRate);
    if (start) {
        anchorFrame_ = block * SynthEngine::BlockFrames;
        anchorTick_ = 0;
        expectedTick_ = 0;
        tickFrames_ = tickFrames;
    } else if (tickFrames != tickFrames_) {
        anchorFrame_ = dueFrame(expectedTick_);
        anchorTick_ = expectedTick_;
        tickFrames_ = tickFrames;
    }
    handedFrame_ = block * SynthEngine::BlockFrames;
    currentDue_ = dueFrame(expectedTick_);
    const auto tick = player_.playNextTick(run, *this);
    if (!tick)
        return;
    expectedTick_ = *tick + 1;
    // What is handed over during block n sounds from block n + 1: wake up in the block before
    // the first block boundary at or after the next tick's due frame.
    const std::uint64_t nextDue = dueFrame(expectedTick_);
    const std::uint64_t wakeBlock =
        (nextDue + SynthEngine::BlockFrames - 1) / SynthEngine::BlockFrames - 1;
    const unsigned int wakeTime = wakeBlock > block ? engine_.msOfBlock(wakeBlock) : time + 1;
    engine_.schedule(SynthEngine::timerData(SynthEngine::StreamTick, id_, run), wakeTime, true);
}

void SynthStream::shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                               std::uint64_t tick)
{
    if (engine_.play(status, data1, data2))
        engine_.addRecord({handedFrame_, currentDue_, tick, status, data1, data2});
}

} // namespace midiout
