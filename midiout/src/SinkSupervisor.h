#pragma once

// The service thread of a real-time engine: it loads the synthesizer and keeps a sink to the
// desktop's sound server. It connects one when the application's thread asks for it, drops it
// when it is lost (off the application's thread: dropping joins the sink's threads), notices a
// clock that stands while a stream runs, and pauses an idle sink. It sleeps on the crossing's
// serviceWake otherwise; while audio runs it looks every 100 ms. Only that thread touches this
// class after construction; what it shares with the application's thread is the SinkCrossing,
// and its news (the sink ready or lost, a stall) reaches that thread through controlWake.

#include "AudioSink.h"
#include "EngineCrossing.h"

#include <cstdint>
#include <memory>
#include <thread>

namespace midiout
{

class SynthCore;

class SinkSupervisor
{
public:
    struct Timing {
        int idleAudioMs;    // an idle sink is paused after this long
        int stalledClockMs; // a running stream whose clock stands this long has stalled
    };

    // Starts the service thread, which connects a sink while it loads core.
    SinkSupervisor(SynthCore &core, EngineCrossing &crossing, SinkCrossing &shared,
                   const SinkClient &client, Timing timing);
    ~SinkSupervisor(); // stops the thread and drops the sink

private:
    void serve();
    void connect();
    void watch();
    static void sinkChanged(void *supervisor);

    SynthCore &core_;
    EngineCrossing &crossing_;
    SinkCrossing &shared_;
    const SinkClient client_;
    const Timing timing_;
    std::int64_t connectedAtMs_ = 0, clockMovedMs_ = 0, lastUseMs_ = 0;
    std::uint64_t lastFrames_ = 0;
    std::thread thread_;
};

} // namespace midiout
