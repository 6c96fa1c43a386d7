#pragma once

// The built-in synthesizer as a stream's device, on the application's thread: loaded, and in real
// time with a desktop sink that is ready. It asks the service thread for a sink and plays on it
// through the SinkCrossing; offline what is rendered is heard at once.

#include "EngineCrossing.h"
#include "StreamControl.h"

#include <cstdint>
#include <functional>

namespace midiout
{

class PresetLoader;
class SynthCore;

class SynthDevice final : public StreamDevice
{
public:
    // sink: the real-time engine's; null offline.
    SynthDevice(SynthCore &core, PresetLoader &presets, const EngineCrossing &crossing,
                SinkCrossing *sink)
        : core_(core), presets_(presets), crossing_(crossing), sink_(sink)
    {
    }

    bool want() override;
    Readiness readiness() const override;
    // The presets it selects or plays are loaded, only while the synthesizer is quiet.
    bool prepare(const std::uint8_t *data, std::size_t length) override;
    void publish(const std::function<void()> &write, bool playNow, bool open,
                 bool running) override;
    // What it played may still be on its way to the sink; a cut drops it there.
    bool waitsForEnd(bool unheard) const override;
    std::uint32_t stalls() const override;
    bool realTime() const override { return sink_ != nullptr; }

    // Drops the sink at once, on this thread; no audio until a stream asks for it again.
    void dropSink();

private:
    SynthCore &core_;
    PresetLoader &presets_;
    const EngineCrossing &crossing_;
    SinkCrossing *const sink_;
};

} // namespace midiout
