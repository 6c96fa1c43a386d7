#pragma once

// A synthesizer engine: FluidSynth with its SoundFont, what crosses between the engine's threads,
// and one class for each thread (EngineCrossing.h says which touches what, and a stream's
// states). Offline, the caller renders and then takes in what the render reported, on its own
// thread; in real time a service thread loads the synthesizer and keeps a sink to the desktop's
// sound server, whose own thread renders.

#include "EngineCrossing.h"
#include "PresetLoader.h"
#include "SinkSupervisor.h"
#include "StreamControl.h"
#include "SynthCore.h"
#include "SynthDevice.h"
#include "SynthRenderer.h"

#include <midiout/Output.h>

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace midiout
{

struct EngineConfig {
    // Tried in order; the first that loads is used.
    QStringList soundFonts = DefaultSoundFonts();
    // Plays through the desktop's sound server; else renderOffline() is the clock.
    bool realTime = false;
    // The sink stops asking for samples after this long without a stream.
    int idleAudioMs = 2000;
    // A running stream whose clock stands still this long ends as a stop ends it. The machine
    // here has held threads up for 145 ms and a server for 0.5 s: a stall of a second ends
    // nothing; a server that went away is noticed at once by its connection.
    int stalledClockMs = 1250;
    // The reverb and chorus run only while something feeds them and their tail lasts; false
    // runs them always (a reference for the tests).
    bool switchEffects = true;
};

class SynthEngine
{
public:
    // Offline, the synthesizer is loaded when this returns; in real time the service thread
    // loads it and then connects a sink.
    explicit SynthEngine(const EngineConfig &config)
        : core(config.soundFonts), renderer(core, crossing, config.switchEffects),
          sink(config.realTime ? std::make_unique<SinkCrossing>() : nullptr),
          supervisor(config.realTime
                         ? std::make_unique<SinkSupervisor>(
                               core, crossing, *sink,
                               SinkClient{&SynthRenderer::renderInto, &renderer, nullptr, nullptr,
                                          int(SampleRate), Channels},
                               SinkSupervisor::Timing{config.idleAudioMs, config.stalledClockMs})
                         : nullptr),
          device(core, presets, crossing, sink.get()), control(crossing, device)
    {
        if (!config.realTime)
            core.load();
    }

    // Offline: renders the next frames into out as interleaved stereo samples and takes in what
    // they reported.
    void renderOffline(float *out, std::size_t frames)
    {
        renderer.render(out, frames, 0);
        control.service();
    }
    // The same as 16-bit samples, rendered a piece at a time beside them and converted.
    void renderOffline(std::int16_t *out, std::size_t frames)
    {
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min(frames - done, PieceFrames);
            renderer.render(piece_.data(), n, 0);
            std::transform(piece_.begin(), piece_.begin() + Channels * n, out + Channels * done,
                           [](float value) {
                               return std::int16_t(
                                   std::lround(std::clamp(value, -1.0f, 1.0f) * 32767.0f));
                           });
            done += n;
        }
        control.service();
    }

    SynthCore core;
    EngineCrossing crossing;
    PresetLoader presets{core, crossing};
    SynthRenderer renderer;
    std::unique_ptr<SinkCrossing> sink;         // real time only
    std::unique_ptr<SinkSupervisor> supervisor; // real time only
    SynthDevice device;
    StreamControl control; // a stream opened on it must be gone first

private:
    static constexpr std::size_t PieceFrames = 16 * SynthRenderer::BlockFrames;
    std::array<float, Channels * PieceFrames> piece_{};
};

} // namespace midiout
