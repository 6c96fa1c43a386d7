#pragma once

// The service thread of a real-time engine: it loads the synthesizer and keeps a sink to the
// desktop's sound server. It connects one when the application's thread wants audio, drops it
// when it is lost (off the application's thread: dropping joins the sink's threads), notices a
// clock that stands while a stream runs, and pauses an idle sink. It sleeps on its eventfd
// otherwise; while audio runs it looks every 100 ms.
//
// The application's thread calls want(), play(), playing(), audio() and the stream setters; its
// news (the sink ready or lost, a stall) reaches that thread through the crossing's controlWake.

#include "AudioSink.h"
#include "EngineCrossing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace midiout
{

class SynthCore;

class SinkSupervisor
{
public:
    enum class Audio : std::uint8_t {
        Starting,    // the synthesizer loads or a sink connects
        Ready,       // a sink is ready
        Unavailable, // no sink: the last one was lost or could not connect; want() tries again
    };
    struct Timing {
        int idleAudioMs;    // an idle sink is paused after this long
        int stalledClockMs; // a running stream whose clock stands this long has stalled
    };

    // Starts the service thread, which connects a sink while it loads core.
    SinkSupervisor(SynthCore &core, EngineCrossing &crossing, const SinkClient &client,
                   Timing timing);
    ~SinkSupervisor(); // stops the thread and drops the sink

    Audio audio() const { return audio_.load(); }
    // Asks for a sink when there is none; false when no way out can be loaded at all.
    bool want();
    // AudioSink::play() on the sink when it is ready, else publish() alone.
    void play(const std::function<void()> &publish);
    // Whether the sink asks for samples (played since it was last paused).
    bool playing() const;
    // Counts the stalls noticed; the stream that runs then is ended by the application's thread.
    std::uint32_t stalls() const { return stalls_.load(); }
    // What the application's thread plays: a stream open (any state but Closed), its clock
    // running.
    void setStream(bool open, bool running);
    // Drops the sink at once, on the calling thread; no audio until want() is called again.
    void drop();

private:
    void serve();
    void connect();
    void watch();
    std::unique_ptr<AudioSink> takeSink();
    static void sinkChanged(void *supervisor);

    SynthCore &core_;
    EngineCrossing &crossing_;
    const SinkClient client_;
    const Timing timing_;
    EventWake wake_;
    std::atomic<Audio> audio_{Audio::Starting};
    std::atomic<bool> wanted_{true}, quitting_{false}, noWayOut_{false};
    std::atomic<bool> streamOpen_{false}, streamRunning_{false};
    std::atomic<std::uint32_t> stalls_{0};

    // Held briefly by both threads: the sink and whether it plays.
    mutable std::mutex sinkMutex_;
    std::unique_ptr<AudioSink> sink_;
    bool playing_ = false;
    std::uint64_t framesAtPlay_ = 0;
    bool played_ = false; // play() since the service thread last looked

    // The service thread's own.
    std::int64_t connectedAtMs_ = 0, clockMovedMs_ = 0, lastUseMs_ = 0;
    std::uint64_t lastFrames_ = 0;
    std::thread thread_;
};

} // namespace midiout
