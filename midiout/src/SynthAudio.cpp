// The engine's audio driver: found when the engine is built, stopped while the engine is idle
// (a driver renders silence all the time, which costs an idle program CPU), and started again,
// in a few milliseconds, when the next stream opens.

#include "SynthEngine.h"

#include <QFile>

#include <fluidsynth.h>

namespace midiout
{

bool SynthEngine::findAudioDriver(const EngineConfig &config)
{
    if (soundFontId_ < 0)
        return false;
    fluid_settings_setint(settings_, "audio.period-size", config.periodSize);
    fluid_settings_setint(settings_, "audio.periods", config.periods);
    if (!config.audioFileName.isEmpty())
        fluid_settings_setstr(settings_, "audio.file.name",
                              QFile::encodeName(config.audioFileName).constData());
    std::lock_guard lock(audioMutex_);
    for (const QString &name : config.audioDrivers) {
        fluid_settings_setstr(settings_, "audio.driver", name.toLatin1().constData());
        driver_ = new_fluid_audio_driver(settings_, synth_);
        if (driver_ != nullptr) {
            driverName_ = name;
            lastUse_ = std::chrono::steady_clock::now();
            return true;
        }
    }
    diagnostics_.append(QStringLiteral("no audio output (tried %1)")
                            .arg(config.audioDrivers.join(QStringLiteral(", "))));
    return false;
}

bool SynthEngine::audioRunning() const
{
    std::lock_guard lock(audioMutex_);
    return driver_ != nullptr;
}

bool SynthEngine::ensureAudio()
{
    std::lock_guard lock(audioMutex_);
    lastUse_ = std::chrono::steady_clock::now();
    if (driver_ == nullptr && !audioStopped_ && !driverName_.isEmpty())
        driver_ = new_fluid_audio_driver(settings_, synth_); // audio.driver is still driverName_
    return driver_ != nullptr;
}

void SynthEngine::keepAudio(int idleMs)
{
    const auto idle = std::chrono::milliseconds(idleMs);
    std::unique_lock lock(audioMutex_);
    while (!audioStopped_) {
        audioChanged_.wait_for(lock, idle);
        if (audioStopped_ || driver_ == nullptr)
            continue;
        bool busy = silenceBusy();
        {
            std::lock_guard streams(streamsMutex_);
            busy = busy || !streams_.empty();
        }
        if (!busy && std::chrono::steady_clock::now() - lastUse_ >= idle) {
            delete_fluid_audio_driver(driver_);
            driver_ = nullptr;
        }
    }
}

void SynthEngine::stopAudio()
{
    // A program that ends while a note sounds ends it with the fade, not with a click.
    for (int waited = 0; silenceBusy() && waited < 100; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        std::lock_guard lock(audioMutex_);
        audioStopped_ = true;
        if (driver_ != nullptr) {
            delete_fluid_audio_driver(driver_);
            driver_ = nullptr;
        }
        audioChanged_.notify_all();
    }
    if (audioKeeper_.joinable())
        audioKeeper_.join();
}

} // namespace midiout
