#pragma once

// FluidSynth with its SoundFont. load() builds it once, on the thread the engine chooses (the
// offline engine's caller, a real-time engine's service thread); other threads use it once
// state() has said Loaded.

#include <QString>
#include <QStringList>

#include <fluidsynth/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace midiout
{

struct FluidApi;

// What went wrong, one line per problem; any thread.
class Diagnostics
{
public:
    void note(const QString &problem);
    QString text() const;

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

class SynthCore
{
public:
    enum class Load : std::uint8_t { Pending, Loaded, Failed };

    explicit SynthCore(const QStringList &soundFonts) : soundFonts_(soundFonts) {}
    ~SynthCore();
    SynthCore(const SynthCore &) = delete;
    SynthCore &operator=(const SynthCore &) = delete;

    // Loads FluidSynth and the first of the SoundFonts that loads, and the presets a reset
    // selects; failures are noted in diagnostics().
    void load();
    Load state() const { return state_.load(std::memory_order_acquire); }
    // Waits at most bound for load() to end; true when it has loaded.
    bool waitLoaded(std::chrono::milliseconds bound) const;

    // Once Loaded.
    const FluidApi &fluid() const { return *fluid_; }
    fluid_synth_t *synth() const { return synth_; }
    int soundFont() const { return soundFontId_; }
    QString soundFontPath() const { return soundFontPath_; }

    Diagnostics &diagnostics() { return diagnostics_; }

private:
    bool build();

    const QStringList soundFonts_;
    const FluidApi *fluid_ = nullptr;
    fluid_settings_t *settings_ = nullptr;
    fluid_synth_t *synth_ = nullptr;
    int soundFontId_ = -1;
    QString soundFontPath_;
    Diagnostics diagnostics_;
    std::atomic<Load> state_{Load::Pending};
    mutable std::mutex loadMutex_;
    mutable std::condition_variable loaded_;
};

} // namespace midiout
