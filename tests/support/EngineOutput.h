#pragma once

// An Output whose only device is a synthesizer engine of the test's own configuration (offline,
// or real time with its idle and stall times), with the engine's parts at hand, for the tests
// and benchmarks that look inside it.

#include "SynthEngine.h"

#include <midiout/Output.h>

namespace testsupport
{

class EngineOutput final : public midiout::Output
{
public:
    explicit EngineOutput(const midiout::EngineConfig &config = {}) : engine(config) {}

    int deviceCount() override { return 1; }
    QString deviceName(int device) override
    {
        return device == 0 || device == -1 ? QStringLiteral("engine") : QString();
    }
    bool probe(int device) override
    {
        return (device == 0 || device == -1) && engine.control.canPlay();
    }
    std::unique_ptr<midiout::Stream> open(int device, QObject *receiver) override
    {
        return probe(device) ? engine.control.open(receiver) : nullptr;
    }

    // Offline: the next frames, interleaved stereo 16-bit, their notifications posted.
    std::vector<std::int16_t> render(std::size_t frames)
    {
        rendered += frames;
        std::vector<std::int16_t> samples(midiout::Channels * frames);
        engine.renderOffline(samples.data(), frames);
        return samples;
    }
    // Frames the synthesizer has rendered: up to a block ahead of those returned.
    std::uint64_t synthesizerFrames() const { return engine.crossing.frames.load(); }
    fluid_synth_t *synth() const { return engine.core.synth(); }
    QString diagnostics() { return engine.core.diagnostics().text(); }

    midiout::SynthEngine engine;
    std::uint64_t rendered = 0;
};

} // namespace testsupport
