#include "SynthDevice.h"

#include "PresetLoader.h"
#include "SynthCore.h"

#include <chrono>
#include <mutex>

namespace midiout
{

bool SynthDevice::want()
{
    if (core_.state() == SynthCore::Load::Failed)
        return false;
    if (sink_ == nullptr)
        return true;
    if (sink_->noWayOut.load())
        return false;
    const std::lock_guard lock(sink_->sinkMutex);
    if (sink_->sink == nullptr && sink_->audio.load() == Readiness::Unavailable) {
        sink_->audio.store(Readiness::Starting);
        sink_->wanted.store(true);
        sink_->serviceWake.signal();
    }
    return true;
}

SynthDevice::Readiness SynthDevice::readiness() const
{
    if (core_.state() != SynthCore::Load::Loaded)
        return core_.state() == SynthCore::Load::Failed ? Readiness::Unavailable
                                                        : Readiness::Starting;
    return sink_ != nullptr ? sink_->audio.load() : Readiness::Ready;
}

bool SynthDevice::prepare(const std::uint8_t *data, std::size_t length)
{
    return presets_.load(data, length);
}

void SynthDevice::publish(const std::function<void()> &write, bool playNow, bool open, bool running)
{
    if (sink_ == nullptr)
        return write();
    sink_->streamOpen.store(open);
    sink_->streamRunning.store(running);
    if (open)
        sink_->serviceWake.signal();
    if (!playNow)
        return write();
    // What the server holds is dropped before this is rendered.
    const std::lock_guard lock(sink_->sinkMutex);
    if (sink_->sink == nullptr || sink_->sink->state() != AudioSink::State::Ready)
        return write();
    sink_->sink->play(write);
    if (!sink_->playing) {
        sink_->playing = sink_->played = true;
        sink_->framesAtPlay = crossing_.frames.load();
        sink_->serviceWake.signal(); // the service thread watches the running clock from now
    }
}

bool SynthDevice::waitsForEnd(bool unheard) const
{
    if (!unheard || sink_ == nullptr)
        return false;
    const std::lock_guard lock(sink_->sinkMutex);
    return sink_->playing;
}

std::uint32_t SynthDevice::stalls() const
{
    return sink_ != nullptr ? sink_->stalls.load() : 0;
}

void SynthDevice::dropSink()
{
    if (sink_ == nullptr)
        return;
    sink_->wanted.store(false);
    core_.waitLoaded(std::chrono::seconds(5)); // the thread that loads it must not outlive us
    sink_->drop();                             // joins the sink's threads here, outside the lock
}

} // namespace midiout
