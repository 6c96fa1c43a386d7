#include <midiout/OfflineOutput.h>

#include "SynthEngine.h"

#include <algorithm>
#include <cmath>

namespace midiout
{

namespace
{

std::int16_t toSample(float value)
{
    return std::int16_t(std::lround(std::clamp(value, -1.0f, 1.0f) * 32767.0f));
}

EngineConfig offline(EngineConfig config)
{
    config.audioDrivers.clear();
    return config;
}

} // namespace

OfflineOutput::OfflineOutput() : OfflineOutput(EngineConfig{}) {}

OfflineOutput::OfflineOutput(const EngineConfig &config)
    : engine_(std::make_unique<SynthEngine>(offline(config)))
{
}

OfflineOutput::~OfflineOutput() = default;

QString OfflineOutput::deviceName(int device)
{
    if (device != 0 && device != -1)
        return {};
    return QStringLiteral("Offline synthesizer (%1)")
        .arg(engine_->soundFontPath().section(QLatin1Char('/'), -1));
}

bool OfflineOutput::probe(int device)
{
    return (device == 0 || device == -1) && engine_->canPlay();
}

std::unique_ptr<Stream> OfflineOutput::open(int device, QObject *receiver)
{
    if (!probe(device))
        return nullptr;
    return engine_->openStream(receiver);
}

std::vector<std::int16_t> OfflineOutput::render(std::size_t frames)
{
    std::vector<std::int16_t> out;
    out.reserve(frames * 2);
    const std::size_t fromAhead = std::min(frames * 2, ahead_.size());
    out.insert(out.end(), ahead_.begin(), ahead_.begin() + fromAhead);
    ahead_.erase(ahead_.begin(), ahead_.begin() + fromAhead);
    float left[SynthEngine::BlockFrames], right[SynthEngine::BlockFrames];
    // Whole blocks only, so that the synthesizer's blocks and its timers stay on our frame grid.
    while (out.size() < frames * 2) {
        engine_->renderBlock(left, right);
        for (int i = 0; i < SynthEngine::BlockFrames; ++i) {
            auto &target = out.size() < frames * 2 ? out : ahead_;
            target.push_back(toSample(left[i]));
            target.push_back(toSample(right[i]));
        }
    }
    rendered_ += frames;
    return out;
}

} // namespace midiout
