#pragma once

// A FluidSynth engine: the synthesizer with its SoundFont, the stream open on it, and one
// render function that plays that stream on the synthesizer's own sample clock.
//
// Threads and what crosses between them:
// - The control side: the thread that opens streams (the application's) and, for an engine with
//   a sink, the engine's service thread. They share the open stream under one mutex. Every
//   change to what should play is published to the audio side as one PlayState through a
//   wait-free triple buffer; the stream's buffer goes by pointer into a copy the engine owns,
//   freed only once the audio side has passed a block that no longer sees it.
// - The audio side: render(), on the sink's real-time thread or, offline, on the caller's. It
//   reports Position, Done and silence through a wait-free ring and wakes the service thread
//   with a non-blocking write to an eventfd. It takes no lock but a try-lock of the
//   synthesizer, which the control side holds only to load presets while nothing sounds.

#include "AudioSink.h"

#include <midiout/Output.h>

#include "LatestValue.h"
#include "SpscRing.h"
#include "StreamPlayer.h"

#include <QStringList>

#include <fluidsynth/types.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

class QObject;

namespace midiout
{

struct FluidApi;
class Stream;
enum class Notification;

struct EngineConfig {
    // Tried in order; the first that loads is used.
    QStringList soundFonts = DefaultSoundFonts();
    // Plays through the desktop's sound server, with a service thread; else render() is the
    // clock and the caller calls service().
    bool realTime = false;
    // The sink stops asking for samples after this long without a stream.
    int idleAudioMs = 2000;
    // A started stream whose clock stands still this long ends as a stop ends it. The machine
    // here has held threads up for 145 ms and a server for 0.5 s: a stall of a second ends
    // nothing; a server that went away is noticed at once by its connection.
    int stalledClockMs = 1250;
};

// What the audio side plays; the control side publishes the whole of it at every change.
struct PlayState {
    static constexpr double OpenTickFrames = 500000.0 / 96 * 44100.0 / 1e6; // 96 ticks a quarter

    std::uint32_t stream = 0;           // the open stream, 0 for none
    const std::uint8_t *data = nullptr; // the queued buffer (the engine's copy), null for none
    std::size_t length = 0;
    std::uint32_t buffer = 0; // its number, reported back with its notifications
    double tickFrames = OpenTickFrames;
    bool running = false;     // the clock runs: restarted since the open or the last stop
    std::uint32_t stops = 0;  // counts stops: each pauses the clock and silences
    std::uint32_t resets = 0; // counts resets: each silences
};

class OfflineOutput;
class SynthEngine;

// The engine behind an offline output's device, for the output layer's tests.
class OfflineEngine
{
public:
    static SynthEngine &of(OfflineOutput &output);
};

class SynthEngine
{
public:
    static constexpr double SampleRate = 44100.0;
    // Events are handed over before a block of this many frames and sound from its first frame.
    static constexpr int BlockFrames = 64;

    // Loads FluidSynth and a SoundFont; failures leave it without one (see diagnostics()). A
    // real-time engine starts its service thread and connects its sink.
    explicit SynthEngine(const EngineConfig &config);
    ~SynthEngine(); // the stream opened on it must be gone by then
    SynthEngine(const SynthEngine &) = delete;
    SynthEngine &operator=(const SynthEngine &) = delete;

    bool hasSoundFont() const { return soundFontId_ >= 0; }
    QString soundFontPath() const { return soundFontPath_; }
    // What went wrong, one line per problem.
    QString diagnostics() const;
    // The synthesizer, for tests that read its state.
    fluid_synth_t *synth() const { return synth_; }

    // Control side. A SoundFont and a clock: true offline; in real time, a sink that is ready,
    // connecting one first when there is none (waiting for the server at most a moment).
    bool canPlay();
    // Whether a sink exists and is asking for samples.
    bool audioRunning();
    // A new stream posting to receiver; posts Open. Null when the engine cannot play or a
    // stream is open on it already.
    std::unique_ptr<Stream> openStream(QObject *receiver);
    // The operations of Stream on the stream numbered `stream`; nothing once it has closed.
    bool reset(std::uint32_t stream);
    bool setTickFrames(std::uint32_t stream, double tickFrames);
    bool queue(std::uint32_t stream, const std::uint8_t *data, std::size_t length);
    bool restart(std::uint32_t stream);
    void stop(std::uint32_t stream);
    void close(std::uint32_t stream, bool postClose);
    // Delivers what the audio side reported, loads the presets a queued buffer waits for, frees
    // buffers the audio side has left, and watches the sink. The service thread calls it; an
    // offline caller calls it after render().
    void service();
    // Drops the sink and ends the open stream; the next canPlay() connects afresh.
    void stopAudio();

    // Audio side: renders the next frames, planar stereo.
    void render(float *left, float *right, std::size_t frames);
    // Frames rendered, in whole blocks; a stream restarted now starts here.
    std::uint64_t synthesizerFrames() const { return frames_.load(std::memory_order_acquire); }

private:
    struct Report {
        std::uint32_t stream = 0;
        std::uint32_t buffer = 0;
        Notification notification{};
    };
    struct Buffer {
        std::vector<std::uint8_t> bytes;
        std::uint32_t number = 0;
        static constexpr std::uint64_t NotYet = ~std::uint64_t(0);
        // Frame counter when the audio side was told to leave it; NotYet until that is published.
        std::uint64_t retiredAt = NotYet;
    };
    struct OpenStream {
        std::uint32_t id = 0;
        QObject *receiver = nullptr;
        std::unique_ptr<Buffer> queued; // awaiting its Done
        bool waitsForPresets = false;
    };
    // The audio side's sink-facing entry points.
    static void renderInto(void *engine, float *left, float *right, std::size_t frames);
    static void sinkChanged(void *engine);

    // Audio side.
    void renderBlock();
    bool enterSynth();
    bool quiet() const { return sound_.load() == Sound::Quiet; }
    void follow(const PlayState &state, std::uint64_t blockStart);
    std::uint64_t dueFrame(std::uint64_t tick) const;
    void beginSilence();
    void silenceBlock();
    void resetSynth();
    void report(Notification notification, std::uint32_t buffer);
    void wake();
    void shortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

    // Control side, under control_.
    bool isOpen(std::uint32_t stream) const { return stream != 0 && open_.id == stream; }
    void publish(bool playNow);
    void retireQueued();
    void closeLocked(bool postClose);
    void endOpenStream();
    void handOver(bool deferred);
    void watchSink();
    void note(const QString &problem);
    bool loadPresets(const std::uint8_t *data, std::size_t length);
    void serveForever();
    bool connectSink();
    void dropSink();

    const FluidApi *fluid_ = nullptr; // null when FluidSynth could not be loaded
    fluid_settings_t *settings_ = nullptr;
    fluid_synth_t *synth_ = nullptr;
    int soundFontId_ = -1;
    QString soundFontPath_;
    const EngineConfig config_;

    // Control side.
    mutable std::mutex control_;
    std::condition_variable sinkSettled_;
    QStringList diagnostics_;
    std::unique_ptr<AudioSink> sink_;
    bool sinkPlaying_ = false;
    OpenStream open_;
    PlayState state_;
    std::uint32_t lastStreamId_ = 0, lastBufferNumber_ = 0;
    std::vector<std::unique_ptr<Buffer>> retired_;
    std::set<std::pair<int, int>> pinned_; // bank, program
    std::uint64_t lastFrames_ = 0;
    std::uint64_t framesAtPlay_ = 0;
    std::int64_t clockMovedMs_ = 0, lastUseMs_ = 0;
    int wakeFd_ = -1;
    bool quitting_ = false;
    std::thread serviceThread_;

    // Crossing threads.
    std::mutex synthLock_; // held by the audio side per block (try-lock), by a preset load
    LatestValue<PlayState> played_;
    SpscRing<Report, 256> reports_;
    std::atomic<bool> reportsLost_{false};
    std::atomic<std::uint64_t> frames_{0};
    // What the synthesizer does; only the audio side changes it, holding synthLock_.
    enum class Sound : std::uint8_t {
        Quiet,     // nothing sounds since the last reset: presets may be loaded
        Sounding,  // a note has been played since the last reset
        Silencing, // a stop's fade and mute are under way (silenceFrames_ into it)
    };
    std::atomic<Sound> sound_{Sound::Quiet};

    // Audio side.
    PlayState seen_;
    StreamPlayer player_;
    std::uint32_t playerBuffer_ = 0;
    std::uint64_t blocks_ = 0, anchorFrame_ = 0, anchorTick_ = 0;
    double tickFrames_ = PlayState::OpenTickFrames;
    int silenceFrames_ = 0;
    bool reported_ = false;
    float blockLeft_[BlockFrames] = {}, blockRight_[BlockFrames] = {};
    int blockUsed_ = BlockFrames;
};

} // namespace midiout
