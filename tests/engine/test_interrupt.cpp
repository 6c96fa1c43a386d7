// A request that interrupts an open stream, rendered offline (faster than real time): the old
// stream's notes stop, and the new stream sounds from its preamble on, with its own instrument,
// as the same request does from silence.

#include "EngineTestSupport.h"

#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

using namespace enginetest;

namespace
{

constexpr std::size_t Ms = 44; // frames per millisecond, near enough
constexpr std::size_t Window = 200 * Ms;

// A church organ on C5 for 3 s, interrupted by a flute on F#6; the flute's note on the organ,
// to show that the comparison tells the instruments apart. Each program is new to the
// synthesizer when its request comes.
const QByteArray Organ = QByteArrayLiteral("I19,C5;300");
constexpr int OrganKey = 60;
const QByteArray Flute = QByteArrayLiteral("I73,F#6;100");
const QByteArray FluteNoteOnTheOrgan = QByteArrayLiteral("I19,F#6;100");

// A generator on an offline output of its own, and what it has rendered.
struct Rendering {
    midiout::OfflineOutput output;
    TMidiGen generator{output};
    Samples audio;

    // Renders block by block, handling notifications in between.
    void render(std::size_t ms)
    {
        for (std::size_t frames = 0; frames < ms * Ms; frames += 64) {
            const Samples part = output.render(64);
            audio.insert(audio.end(), part.begin(), part.end());
            QCoreApplication::processEvents();
        }
    }
    std::size_t frames() const { return audio.size() / 2; }
};

// The spectrum of the 200 ms from `from`, to 5 kHz.
std::vector<double> spectrumFrom(const Samples &audio, std::size_t from)
{
    return spectrum(audio, from, Window, 10, 5000);
}

// A request played alone from silence: its spectrum 50 ms after the request.
std::vector<double> alone(const QByteArray &text)
{
    Rendering r;
    EXPECT_TRUE(r.generator.PlayString(text));
    r.render(300);
    return spectrumFrom(r.audio, 50 * Ms);
}

} // namespace

TEST(InterruptingRequest, TheOldStreamStopsAndTheNewOneSoundsWithItsOwnInstrument)
{
    Rendering r;
    ASSERT_TRUE(r.generator.PlayString(Organ));
    r.render(500);
    const std::size_t request = r.frames();
    ASSERT_TRUE(r.generator.PlayString(Flute)) << "the interrupting request";
    EXPECT_TRUE(r.generator.IsPlaying());
    r.render(1500);
    EXPECT_FALSE(r.generator.IsPlaying()) << "the new stream ends after its 1 s note";

    // The organ falls silent: its pitch more than 40 dB down 30 ms after the request.
    const double organ = noteFrequency(OrganKey);
    const double before = amplitudeAt(r.audio, request - 100 * Ms, 100 * Ms, organ);
    const double after = amplitudeAt(r.audio, request + 30 * Ms, 100 * Ms, organ);
    std::printf("the organ's pitch: %.0f before the request, %.1f after it\n", before, after);
    ASSERT_GT(before, 100) << "the organ sounded";
    EXPECT_LT(after, before / 100) << "the old stream's note goes on";

    // The flute sounds as it does from silence, not with the old stream's instrument.
    const auto heard = spectrumFrom(r.audio, request + 50 * Ms);
    const auto flute = alone(Flute);
    const auto onTheOrgan = alone(FluteNoteOnTheOrgan);
    const double likeTheFlute = similarity(heard, flute);
    const double likeTheOrgan = similarity(heard, onTheOrgan);
    std::printf("spectrum after the request: %.3f like the flute alone, %.3f like the organ; the "
                "two alone: %.3f\n",
                likeTheFlute, likeTheOrgan, similarity(flute, onTheOrgan));
    ASSERT_LT(similarity(flute, onTheOrgan), 0.8) << "the comparison cannot tell them apart";
    EXPECT_GT(likeTheFlute, 0.95) << "the new stream does not sound as from its preamble";
    EXPECT_GT(peak(r.audio, request, request + Window), 1000) << "the new stream is silent";
}
