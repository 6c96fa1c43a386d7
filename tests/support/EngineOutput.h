#pragma once

// An Output whose only device is a synthesizer engine of the test's own configuration (its audio
// drivers, its idle time), for tests and benchmarks of the real-time path.

#include "SynthEngine.h"

#include <midiout/Output.h>

namespace testsupport
{

class EngineOutput final : public midiout::Output
{
public:
    explicit EngineOutput(const midiout::EngineConfig &config) : engine(config) {}

    int deviceCount() override { return 1; }
    QString deviceName(int device) override
    {
        return device == 0 || device == -1 ? QStringLiteral("engine") : QString();
    }
    bool probe(int device) override { return (device == 0 || device == -1) && engine.canPlay(); }
    std::unique_ptr<midiout::Stream> open(int device, QObject *receiver) override
    {
        return probe(device) ? engine.openStream(receiver) : nullptr;
    }

    midiout::SynthEngine engine;
};

} // namespace testsupport
