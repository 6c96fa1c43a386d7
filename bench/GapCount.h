#pragma once

// Gaps at the start of sounds at the sink, and the two anchors they are read against: FluidSynth's
// audio driver alone writing a constant, and how late this machine wakes a sleeping thread.

#include "MonitorRecorder.h"

#include <fluidsynth.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace bench
{

// A thread that sleeps 5 ms at a time while the requests run: the scheduling that every audio
// path here rests on. Wake-ups more than StallMs late are kept as stalls, from when the thread
// was due to when it ran.
class WakeUpProbe
{
public:
    static constexpr double StallMs = 10.0;
    using Stall = std::pair<double, double>; // CLOCK_MONOTONIC seconds

    WakeUpProbe();
    ~WakeUpProbe() { stop(); }
    // Ends the probe and prints what it saw; stalls() may be read afterwards.
    void stop();
    const std::vector<Stall> &stalls() const { return stalls_; }

private:
    std::atomic<bool> stop_{false};
    double worst_ = 0;          // probe thread only until joined
    std::vector<Stall> stalls_; // the same
    std::thread thread_;
};

// FluidSynth's PulseAudio driver with a callback of its own that writes a constant, at the
// period the engine used when the figure was set (2,048 frames, two periods): what the sound
// server path does without our engine. Plays from construction to destruction.
class BareDriver
{
public:
    static constexpr int PeriodFrames = 2048;
    static constexpr int Periods = 2;

    BareDriver();
    ~BareDriver();
    BareDriver(const BareDriver &) = delete;
    BareDriver &operator=(const BareDriver &) = delete;

private:
    fluid_settings_t *settings_;
    fluid_audio_driver_t *driver_ = nullptr;
};

// Counts the sounds that begin at `starts` (CLOCK_MONOTONIC; negative for a request that was
// refused) whose first 0.9 s at the sink hold a gap: a run of 32 or more zero frames once the
// level has risen above -50 dBFS. A start with no sound within 1 s counts as silent. Prints
// KEY-requests, KEY-with-gaps, KEY-gaps-during-stalls (a gap that begins within 30 ms of a
// stall of the machine) and KEY-silent.
void countGaps(const MonitorRecorder &recorder, const std::vector<double> &starts, const char *key,
               const std::vector<WakeUpProbe::Stall> &stalls);

} // namespace bench
