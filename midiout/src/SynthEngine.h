#pragma once

// A FluidSynth engine: settings, synthesizer, SoundFont, a sequencer used only as a timer on the
// synthesizer's sample clock, and optionally an audio driver. Streams opened on it are timed by
// that clock; without a driver, render() advances it.

#include <QString>
#include <QStringList>

#include <fluidsynth/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

class QObject;

namespace midiout
{

class Stream;
class SynthStream;

struct EngineConfig {
    // Tried in order; the first that loads is used.
    QStringList soundFonts = defaultSoundFonts();
    // FluidSynth audio drivers tried in order; none for an engine clocked by render().
    QStringList audioDrivers;
    // Output file of the "file" driver.
    QString audioFileName;
    int periodSize = 128;
    int periods = 3;
    // With a driver: stop it after this long without a stream and start it again for the next
    // one, so that an idle program renders no silence; negative keeps it running.
    int idleAudioMs = -1;

    // The system's General MIDI SoundFont, then the other SoundFonts of its folder.
    static QStringList defaultSoundFonts();
    // The desktop's sound servers, then ALSA when the machine has a playback device.
    static QStringList desktopAudioDrivers();
};

// What the engine handed the synthesizer for one stream event.
struct HandedEvent {
    std::uint64_t handedFrame; // start of the audio block during which it was handed over
    std::uint64_t dueFrame;    // frame at which its tick was due
    std::uint64_t tick;        // stream tick it was due at
    std::uint8_t status, data1, data2;
};

class SynthEngine
{
public:
    static constexpr double SampleRate = 44100.0;
    // FluidSynth renders in blocks of this many frames and applies what it is handed during one
    // block from the start of the next one.
    static constexpr int BlockFrames = 64;
    static constexpr int Channels = 16;

    // Builds the engine; failures leave it without SoundFont or driver (see diagnostics()).
    explicit SynthEngine(const EngineConfig &config);
    ~SynthEngine(); // streams opened on the engine must be gone by then
    SynthEngine(const SynthEngine &) = delete;
    SynthEngine &operator=(const SynthEngine &) = delete;

    bool hasSoundFont() const { return soundFontId_ >= 0; }
    // An audio driver was found when the engine was built.
    bool hasAudioDriver() const { return !driverName_.isEmpty(); }
    // The audio driver runs now (it stops while the engine is idle, see idleAudioMs).
    bool audioRunning() const;
    // A SoundFont and a clock: an audio driver, or render() for an engine configured without one.
    bool canPlay() const;
    // Canonical path of the SoundFont in use, empty without one.
    QString soundFontPath() const { return soundFontPath_; }
    QString audioDriverName() const { return driverName_; }
    // What went wrong while the engine was built, one line per problem.
    QString diagnostics() const { return diagnostics_.join(QLatin1Char('\n')); }

    // A new stream posting to receiver; posts Open. Null when the engine cannot play.
    std::unique_ptr<Stream> openStream(QObject *receiver);

    // Renders one block of BlockFrames frames (engines without a driver only).
    void renderBlock(float *left, float *right);
    // Lets a fade in progress finish (for at most a tenth of a second), then stops and deletes
    // the audio driver for good; nothing sounds and no timer fires afterwards.
    void stopAudio();

    // The record of handed-over events, kept while recording is on (off at first).
    void setRecording(bool on);
    std::vector<HandedEvent> record() const;
    void clearRecord();

    // Synthesizer state, for diagnostics and tests.
    int controller(int channel, int number) const;
    int pitchBend(int channel) const;
    int activeVoiceCount() const;

private:
    friend class SynthStream;
    enum TimerKind : std::uintptr_t {
        SilenceRequest = 0,
        SilenceStep = 1,
        StreamStart = 2,
        StreamTick = 3
    };

    static void timerCallback(unsigned int time, fluid_event_t *event, fluid_sequencer_t *,
                              void *data);
    static std::uintptr_t timerData(TimerKind kind, std::uint32_t stream, std::uint64_t run);
    void onTimer(unsigned int time, std::uintptr_t data);

    // Sequencer time (ms) of the block that starts at frame index block * BlockFrames, exactly
    // as the synthesizer's sample timer computes it, and the inverse.
    unsigned int msOfBlock(std::uint64_t block) const;
    std::uint64_t blockAt(unsigned int ms) const;
    // Sends our timer event. fromAudio: called in a timer callback (uses a preallocated event).
    void schedule(std::uintptr_t data, unsigned int time, bool fromAudio);
    unsigned int now() const;

    // The audio driver: the first of the configured ones that starts; started again for a
    // stream after an idle stop (false when it no longer starts); stopped by the keeper thread
    // once the engine has been idle for idleAudioMs.
    bool findAudioDriver(const EngineConfig &config);
    bool ensureAudio();
    void keepAudio(int idleMs);

    // Streams.
    std::uint32_t attach(SynthStream *stream);
    void detach(std::uint32_t id);
    void pinPresets(const std::uint8_t *data, std::size_t length);
    // Hands one short message to the synthesizer; false when it is not one we play.
    bool play(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void setEffectsOn(bool on);
    void addRecord(const HandedEvent &event);

    // Silencing, in the timer thread from the next block on: a fade of a few blocks of every
    // voice and of the effects, then all sounds off and a reset of the synthesizer (controllers
    // and programs of all channels, effects). Streams hand nothing over until it is done.
    void requestSilence();
    bool silenceBusy() const;
    void silenceStep(unsigned int time, bool continuation);
    enum class SilencePhase { Idle, Fade, Kill, WaitForTails, Settle };
    void enterPhase(SilencePhase phase);
    void resetSynth();
    void finishSilence(unsigned int time);

    fluid_settings_t *settings_ = nullptr;
    fluid_synth_t *synth_ = nullptr;
    fluid_sequencer_t *sequencer_ = nullptr;
    mutable std::mutex audioMutex_; // guards driver_, audioStopped_, lastUse_
    std::condition_variable audioChanged_;
    fluid_audio_driver_t *driver_ = nullptr;
    bool audioStopped_ = false; // stopped for good
    std::chrono::steady_clock::time_point lastUse_;
    std::thread audioKeeper_;
    fluid_event_t *audioEvent_ = nullptr;
    short client_ = -1;
    int soundFontId_ = -1;
    bool clockedByRender_ = false;
    QString soundFontPath_;
    QString driverName_;
    QStringList diagnostics_;

    mutable std::mutex streamsMutex_; // held during stream timers; guards streams_, record_
    std::map<std::uint32_t, SynthStream *> streams_;
    std::uint32_t nextStreamId_ = 1;
    std::atomic<bool> recording_{false};
    std::vector<HandedEvent> record_;

    std::mutex pinMutex_;
    std::set<std::pair<int, int>> pinned_;

    double reverbLevel_ = 0;
    std::atomic<bool> pendingSilence_{false};
    // Timer thread only.
    std::atomic<SilencePhase> silencePhase_{SilencePhase::Idle};
    int phaseBlocks_ = 0;
    bool soundSinceReset_ = false; // a note was played since the last reset
};

} // namespace midiout
