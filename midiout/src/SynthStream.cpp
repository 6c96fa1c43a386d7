#include "SynthStream.h"

#include "SynthEngine.h"

namespace midiout
{

namespace
{

constexpr double TempoMicroseconds = 500000.0; // per quarter note, fixed

} // namespace

SynthStream::~SynthStream()
{
    engine_.close(id_, false);
}

void SynthStream::reset()
{
    engine_.reset(id_);
}

bool SynthStream::setTimeDivision(int ticksPerQuarter)
{
    return ticksPerQuarter > 0 && engine_.setTickFrames(id_, TempoMicroseconds / ticksPerQuarter *
                                                                 SynthEngine::SampleRate / 1e6);
}

bool SynthStream::queue(const std::uint8_t *data, std::size_t length)
{
    return data != nullptr && length != 0 && length % StreamEvent::Size == 0 &&
           engine_.queue(id_, data, length);
}

bool SynthStream::restart()
{
    return engine_.restart(id_);
}

void SynthStream::stop()
{
    engine_.stop(id_);
}

void SynthStream::close()
{
    engine_.close(id_, true);
}

} // namespace midiout
