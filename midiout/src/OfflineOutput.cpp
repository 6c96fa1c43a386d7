#include <midiout/OfflineOutput.h>

#include "SynthEngine.h"

namespace midiout
{

namespace
{

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

OfflineOutput::~OfflineOutput() = default;

QString OfflineOutput::soundFontPath() const
{
    return engine_->core.soundFontPath();
}

QString OfflineOutput::diagnostics() const
{
    return engine_->core.diagnostics().text();
}

QString OfflineOutput::deviceName(int device)
{
    if (device != 0 && device != -1)
        return {};
    if (engine_->core.state() != SynthCore::Load::Loaded)
        return QStringLiteral("Offline synthesizer (no SoundFont)");
    return QStringLiteral("Offline synthesizer (%1)")
        .arg(engine_->core.soundFontPath().section(QLatin1Char('/'), -1));
}

bool OfflineOutput::probe(int device)
{
    return (device == 0 || device == -1) && engine_->control.canPlay();
}

std::unique_ptr<Stream> OfflineOutput::open(int device, QObject *receiver)
{
    return probe(device) ? engine_->control.open(receiver) : nullptr;
}

std::vector<std::int16_t> OfflineOutput::render(std::size_t frames)
{
    std::vector<std::int16_t> samples(Channels * frames);
    render(samples.data(), frames);
    return samples;
}

void OfflineOutput::render(std::int16_t *out, std::size_t frames)
{
    rendered_ += frames;
    engine_->renderOffline(out, frames);
}

void OfflineOutput::render(float *out, std::size_t frames)
{
    rendered_ += frames;
    engine_->renderOffline(out, frames);
}

std::uint64_t OfflineOutput::synthesizerFrames() const
{
    return engine_->crossing.frames.load();
}

} // namespace midiout
