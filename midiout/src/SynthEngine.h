#pragma once

// A FluidSynth engine: synthesizer, SoundFont and one audio callback of ours that renders it and
// plays the open stream on the synthesizer's own sample clock. Without an audio driver, render()
// is that clock. Every call but render() comes from one thread, the one that opens streams
// (called the GUI thread below); the audio thread only renders.

#include "SpscRing.h"
#include "StreamPlayer.h"

#include <QElapsedTimer>
#include <QStringList>

#include <fluidsynth/types.h>

#include <atomic>
#include <memory>
#include <set>
#include <utility>

class QObject;
class QSocketNotifier;
class QTimer;

namespace midiout
{

struct FluidApi;
class Stream;
class SynthStream;

struct EngineConfig {
    // Tried in order; the first that loads is used.
    QStringList soundFonts = defaultSoundFonts();
    // FluidSynth audio drivers tried in order at each start; none for an engine clocked by
    // render().
    QStringList audioDrivers;
    // A request after idleAudioMs starts the driver afresh (a backup run's ticks come 10 s
    // apart), and a fresh stream's first period goes out at once: the period sets the CPU cost
    // and how long a stalled audio thread is bridged (PulseAudio's driver queues one period at
    // the server), not the first sound. A request while the driver runs sounds within two
    // periods.
    int periodSize = 2048;
    int periods = 2;
    // The driver stops after this long without a stream, so that an idle program renders no
    // silence. Negative: it keeps running.
    int idleAudioMs = 2000;

    // The system's General MIDI SoundFont, then the other SoundFonts of its folder.
    static QStringList defaultSoundFonts();
    // PulseAudio (also a PipeWire desktop's), then ALSA when the machine has a playback device.
    static QStringList desktopAudioDrivers();
};

class SynthEngine final : private EventSink
{
public:
    static constexpr double SampleRate = 44100.0;
    // Events are handed over before a block of this many frames is rendered and sound from its
    // first frame.
    static constexpr int BlockFrames = 64;
    // Frames per tick of a stream just opened: 96 ticks per quarter note of 500,000 µs.
    static constexpr double OpenTickFrames = 500000.0 / 96 * SampleRate / 1e6;

    // Builds the engine; failures leave it without SoundFont (see diagnostics()). Any thread.
    explicit SynthEngine(const EngineConfig &config);
    ~SynthEngine(); // the stream opened on it must be gone by then
    SynthEngine(const SynthEngine &) = delete;
    SynthEngine &operator=(const SynthEngine &) = delete;

    bool hasSoundFont() const { return soundFontId_ >= 0; }
    // Canonical path of the SoundFont in use, empty without one.
    QString soundFontPath() const { return soundFontPath_; }
    bool audioRunning() const { return driver_ != nullptr; }
    // A SoundFont and a clock: render() for an engine without drivers, else an audio driver
    // that runs, or starts now. A driver whose clock has stopped is dropped first.
    bool canPlay();
    // What went wrong, one line per problem, FluidSynth's own messages included.
    QString diagnostics() const;
    // The synthesizer, for tests that read its state.
    fluid_synth_t *synth() const { return synth_; }

    // A new stream posting to receiver; posts Open. Null when the engine cannot play or a
    // stream is open on it already.
    std::unique_ptr<Stream> openStream(QObject *receiver);

    // Renders the next frames (engines without a driver; the audio callback does the same).
    void render(float *left, float *right, std::size_t frames);
    // Frames the synthesizer has rendered, in whole blocks; a stream restarted now starts here.
    std::uint64_t synthesizerFrames() const { return frames_.load(std::memory_order_acquire); }
    // Hands the stream what the audio side has reported and loads the presets it waits for.
    // Engines with a driver do it themselves; the offline renderer calls it after render().
    void service();
    // Stops the audio driver for good; nothing sounds or is posted afterwards.
    void stopAudio();

private:
    friend class SynthStream;

    // What the GUI thread asks of the audio side, in order.
    struct Command {
        enum Kind : std::uint8_t { Open, TimeDivision, Queue, Start, Stop, Reset, Close } kind;
        std::uint32_t stream = 0;
        const std::uint8_t *data = nullptr;
        std::size_t length = 0;
        std::uint32_t buffer = 0;
        double tickFrames = 0;
    };
    // What the audio side reports.
    struct Report {
        std::uint32_t stream = 0;
        std::uint32_t buffer = 0;
        Notification notification{};
    };

    // Audio side.
    static int audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[]);
    void renderBlock();
    void runCommands(std::uint64_t blockStart);
    std::uint64_t dueFrame(std::uint64_t tick) const;
    void beginSilence();
    void silenceBlock();
    // Resets the synthesizer and ends a silencing under way (also from the GUI side once the
    // driver's thread has been joined).
    void resetSynth();
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint64_t tick) override;
    void notify(Notification notification, std::uint32_t buffer) override;

    // GUI side.
    void send(const Command &command) { commands_.push(command); } // full only on a dead driver
    void detach(SynthStream *stream);
    bool startDriver();
    void watch();
    void dropDriver();
    // Loads what the buffer selects or plays; false when that has to wait for silence.
    bool loadPresets(const std::uint8_t *data, std::size_t length);

    const FluidApi *fluid_ = nullptr; // null when FluidSynth could not be loaded
    fluid_settings_t *settings_ = nullptr;
    fluid_synth_t *synth_ = nullptr;
    int soundFontId_ = -1;
    QString soundFontPath_;
    QStringList diagnostics_;

    // GUI side.
    EngineConfig config_;
    fluid_audio_driver_t *driver_ = nullptr;
    bool audioStopped_ = false;
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
    std::unique_ptr<QTimer> watchdog_;
    QElapsedTimer sinceClockMoved_, sinceUse_;
    std::uint64_t lastFrames_ = 0, driverStartFrames_ = 0;
    SynthStream *open_ = nullptr;
    std::uint32_t lastStreamId_ = 0, lastBufferNumber_ = 0;
    std::set<std::pair<int, int>> pinned_; // bank, program

    // Crossing threads.
    SpscRing<Command, 256> commands_;
    SpscRing<Report, 256> reports_;
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<bool> quiet_{true};      // nothing sounds, no silencing under way
    std::atomic<bool> rendering_{false}; // the audio side is inside the synthesizer
    std::atomic<bool> loading_{false};   // the GUI side is loading presets: do not render

    // Audio side.
    StreamPlayer player_;
    std::uint32_t current_ = 0; // the stream being played
    std::uint64_t blocks_ = 0;
    std::uint64_t anchorFrame_ = 0, anchorTick_ = 0;
    double tickFrames_ = OpenTickFrames;
    int silenceFrames_ = -1; // into the silencing that a stop started; -1: none under way
    bool soundSinceReset_ = false;
    bool reported_ = false;
    float blockLeft_[BlockFrames] = {}, blockRight_[BlockFrames] = {};
    int blockUsed_ = BlockFrames;
};

} // namespace midiout
