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

EngineConfig offline(const QStringList &soundFonts)
{
    EngineConfig config;
    config.soundFonts = soundFonts;
    return config;
}

} // namespace

OfflineOutput::OfflineOutput(const QStringList &soundFonts)
    : engine_(std::make_unique<SynthEngine>(offline(soundFonts)))
{
}

SynthEngine &OfflineEngine::of(OfflineOutput &output)
{
    return *output.engine_;
}

QString OfflineOutput::soundFontPath() const
{
    return engine_->soundFontPath();
}

QString OfflineOutput::diagnostics() const
{
    return engine_->diagnostics();
}

OfflineOutput::~OfflineOutput() = default;

QString OfflineOutput::deviceName(int device)
{
    if (device != 0 && device != -1)
        return {};
    if (!engine_->hasSoundFont())
        return QStringLiteral("Offline synthesizer (no SoundFont)");
    return QStringLiteral("Offline synthesizer (%1)")
        .arg(engine_->soundFontPath().section(QLatin1Char('/'), -1));
}

bool OfflineOutput::probe(int device)
{
    return (device == 0 || device == -1) && engine_->canPlay();
}

std::unique_ptr<Stream> OfflineOutput::open(int device, QObject *receiver)
{
    return probe(device) ? engine_->openStream(receiver) : nullptr;
}

std::vector<std::int16_t> OfflineOutput::render(std::size_t frames)
{
    std::vector<float> left(frames), right(frames);
    engine_->render(left.data(), right.data(), frames);
    engine_->service();
    std::vector<std::int16_t> out(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] = toSample(left[i]);
        out[2 * i + 1] = toSample(right[i]);
    }
    rendered_ += frames;
    return out;
}

std::uint64_t OfflineOutput::synthesizerFrames() const
{
    return engine_->synthesizerFrames();
}

} // namespace midiout
