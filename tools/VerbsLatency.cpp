// The latency verb: how late the backup run's jingle sounds after its play request, and how far
// its notes land from their ticks, measured on the synthesizer rendered offline.

#include "Verbs.h"

#include "Settings.h"
#include "SynthEngine.h"
#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace tool
{

namespace
{

// Control comes back after every audio block, as in render.
constexpr std::size_t ChunkFrames = 64;

} // namespace

int Latency(const Options &options, const QList<QByteArray> &arguments)
{
    if (!arguments.isEmpty())
        throw UsageError("unexpected argument: " + arguments[0]);
    midiout::OfflineOutput output;
    TMidiGen generator(output);
    // The backup run's jingle with the run's settings, unless --set says otherwise.
    generator.setModulation(100);
    generator.setSustain(true);
    generator.setPitchBend(0);
    generator.setDuration(400);
    generator.setLoops(1);
    ApplySettings(generator, options);
    output.engine().setRecording(true);

    const std::uint64_t requestFrame = output.synthesizerFrames();
    QElapsedTimer clock;
    clock.start();
    const bool started = generator.PlayString("I94,G3,100;I31,50;G4,B,G,G3,D4");
    const double requestMs = double(clock.nsecsElapsed()) / 1e6;
    if (!started) {
        std::fprintf(stderr, "midigen: nothing played: %s\n",
                     qPrintable(output.engine().diagnostics()));
        return 1;
    }
    std::uint64_t firstSound = 0;
    bool heard = false;
    while (generator.IsPlaying()) {
        const std::vector<std::int16_t> samples = output.render(ChunkFrames);
        for (std::size_t i = 0; !heard && i < samples.size(); ++i) {
            if (samples[i] != 0) {
                heard = true;
                firstSound = output.renderedFrames() - ChunkFrames + i / 2 - requestFrame;
            }
        }
        QCoreApplication::processEvents();
    }

    // What the audio driver buffers in front of the speaker, on a desktop with sound.
    const midiout::EngineConfig config;
    const double rate = midiout::OfflineOutput::SampleRate;
    const double bufferMs = 1000.0 * config.periodSize * config.periods / rate;
    const double renderMs = 1000.0 * double(firstSound) / rate;
    double worstOnset = 0;
    int notes = 0;
    for (const midiout::HandedEvent &event : output.engine().record()) {
        if ((event.status & midiout::StatusKindMask) != midiout::NoteOnStatus || event.data2 == 0)
            continue;
        // Handed over during a block, it sounds from the start of the next one.
        const double sounds = double(event.handedFrame + midiout::SynthEngine::BlockFrames);
        worstOnset =
            std::max(worstOnset, std::abs(sounds - double(event.dueFrame)) * 1000.0 / rate);
        ++notes;
    }
    std::printf("request-ms %.3f\nrender-first-sound-ms %.2f\ndriver-buffer-ms %.2f\n", requestMs,
                renderMs, bufferMs);
    std::printf("first-sound-ms %.2f\n", requestMs + renderMs + bufferMs);
    std::printf("notes %d\nonset-error-ms %.2f\n", notes, worstOnset);
    return heard ? 0 : 1;
}

} // namespace tool
