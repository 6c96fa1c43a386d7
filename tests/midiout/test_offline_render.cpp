// Rendering into the caller's memory, and the reverb and chorus units that run only while
// something feeds them: the same sound as the vector render and as units that always run.

#include "EngineOutput.h"
#include "TestSupport.h"
#include <midiout/OfflineOutput.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

using namespace miditest;
using midiout::OfflineOutput;
using midiout::Stream;
using testsupport::EngineOutput;

namespace
{

// Allocations counted while counting is on, to see that a render allocates nothing.
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

} // namespace

void *operator new(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept
{
    std::free(memory);
}
void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace
{

constexpr std::size_t Second = 44100;

// A stream as the tone generator opens it, with one buffer queued and started.
std::unique_ptr<Stream> play(midiout::Output &output, NotificationLog &log,
                             const StreamBuilder &buffer)
{
    auto stream = output.open(-1, &log);
    if (!stream)
        return nullptr;
    stream->reset();
    EXPECT_TRUE(stream->setTimeDivision(50)); // a tick is 10 ms
    EXPECT_TRUE(stream->queue(buffer.data(), buffer.size()));
    EXPECT_TRUE(stream->restart());
    return stream;
}

// Chords on a pad and strings with the channels' reverb and chorus sends up, then silence.
StreamBuilder sendingTune()
{
    StreamBuilder b = tonePreamble(88);
    b.add(0, 0xB0, 91, 127).add(0, 0xB0, 93, 100);
    b.add(0, 0xC1, 48).add(0, 0xB1, 7, 127).add(0, 0xB1, 91, 90).add(0, 0xB1, 93, 127);
    b.add(0, 0x90, 60, 110).add(0, 0x91, 67, 100);
    b.add(60, 0x80, 60, 0).add(0, 0x81, 67, 0);
    // The sends drop while the notes ring out.
    b.add(20, 0xB0, 91, 0).add(0, 0xB0, 93, 0).add(0, 0xB1, 91, 0).add(0, 0xB1, 93, 0);
    b.add(10, 0x90, 72, 90).add(40, 0x80, 72, 0);
    return b;
}

// A woodblock hit with the sends up, which drop while the hit still sounds: the reverb rings on
// after the voice has ended.
StreamBuilder tailTune()
{
    StreamBuilder b = tonePreamble(115);
    b.add(0, 0xB0, 91, 127).add(0, 0xB0, 93, 127);
    b.add(0, 0x90, 76, 127).add(5, 0xB0, 91, 0).add(0, 0xB0, 93, 0).add(5, 0x80, 76, 0);
    return b;
}

// Piano notes with the preamble's sends at 0, as the tool plays by default: only the preset's
// own reverb send feeds a unit.
StreamBuilder pianoTune()
{
    StreamBuilder b = tonePreamble(0);
    for (int i = 0; i < 8; ++i)
        b.note(i * 30, 0, std::uint8_t(48 + 5 * i), 25);
    return b;
}

// Renders a tune on an engine to the end of its tail, in pieces of the given size.
std::vector<std::int16_t> renderOn(EngineOutput &output, const StreamBuilder &tune,
                                   std::size_t frames, std::size_t piece)
{
    NotificationLog log;
    auto stream = play(output, log, tune);
    EXPECT_TRUE(stream);
    std::vector<std::int16_t> all;
    for (std::size_t done = 0; done < frames; done += piece) {
        const auto part = output.render(std::min(piece, frames - done));
        all.insert(all.end(), part.begin(), part.end());
        pump();
    }
    return all;
}

int largestDifference(const std::vector<std::int16_t> &a, const std::vector<std::int16_t> &b)
{
    int largest = a.size() == b.size() ? 0 : 1 << 16;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

} // namespace

TEST(OfflineRender, IntoTheCallersMemoryAsTheVectorRender)
{
    OfflineOutput byVector, byBuffer, byFloat;
    ASSERT_TRUE(byVector.probe(0)) << byVector.diagnostics().toStdString();
    const StreamBuilder tune = sendingTune();
    NotificationLog logs[3];
    auto a = play(byVector, logs[0], tune);
    auto b = play(byBuffer, logs[1], tune);
    auto c = play(byFloat, logs[2], tune);
    ASSERT_TRUE(a && b && c);
    // Pieces that cut blocks and pieces of many blocks, in turn.
    std::vector<std::int16_t> vector, buffer, converted;
    std::vector<float> floats;
    const std::size_t pieces[] = {100, 64, 3000, 17, 4096};
    for (std::size_t done = 0, i = 0; done < 4 * Second; ++i) {
        const std::size_t n = pieces[i % 5];
        const auto part = byVector.render(n);
        vector.insert(vector.end(), part.begin(), part.end());
        buffer.resize(vector.size());
        byBuffer.render(buffer.data() + buffer.size() - 2 * n, n);
        floats.resize(vector.size());
        byFloat.render(floats.data() + floats.size() - 2 * n, n);
        pump();
        done += n;
    }
    EXPECT_EQ(buffer, vector);
    for (float value : floats)
        converted.push_back(std::int16_t(std::lround(std::clamp(value, -1.0f, 1.0f) * 32767.0f)));
    EXPECT_EQ(converted, vector);
    EXPECT_GT(peak(vector, 0, vector.size() / 2), 3000);
    EXPECT_EQ(byBuffer.renderedFrames(), byVector.renderedFrames());
    for (auto *stream : {a.get(), b.get(), c.get()}) {
        stream->stop();
        stream->close();
    }
    byVector.render(64);
    byBuffer.render(64);
    byFloat.render(64);
}

TEST(OfflineRender, SwitchedEffectsSoundAsEffectsThatAlwaysRun)
{
    midiout::EngineConfig always;
    always.switchEffects = false;
    EngineOutput switched, running(always);
    ASSERT_TRUE(switched.probe(0)) << switched.diagnostics().toStdString();
    const auto &effects = switched.engine.renderer.effects();

    // The sends, their drop and the tail to its end, after which the units have gone off: the
    // pad's voices ring for seconds, and feed both units by the SoundFont's own sends.
    const std::size_t frames = 20 * Second;
    const auto withSends = renderOn(switched, sendingTune(), frames, 64);
    EXPECT_FALSE(effects.reverbOn());
    EXPECT_FALSE(effects.chorusOn());
    const auto reference = renderOn(running, sendingTune(), frames, 64);
    ASSERT_GT(peak(reference, 0, frames), 3000);
    // The tail is there: the reverb still sounds after the last note's release.
    ASSERT_GT(peak(reference, 3 * Second, 4 * Second), 30);
    EXPECT_LE(largestDifference(withSends, reference), 1);

    // The tail of a reverb that rings after the voice that fed it has ended.
    EngineOutput switchedAgain, runningAgain(always);
    const std::size_t tailFrames = 12 * Second;
    const auto tail = renderOn(switchedAgain, tailTune(), tailFrames, 64);
    EXPECT_FALSE(switchedAgain.engine.renderer.effects().reverbOn());
    const auto tailReference = renderOn(runningAgain, tailTune(), tailFrames, 64);
    ASSERT_GT(peak(tailReference, Second / 4, Second / 2), 30) << "no reverb tail to keep";
    EXPECT_LE(largestDifference(tail, tailReference), 1);
}

TEST(OfflineRender, WithoutChannelSendsOnlyTheReverbThatThePresetFeedsRuns)
{
    midiout::EngineConfig always;
    always.switchEffects = false;
    EngineOutput switched, running(always);
    ASSERT_TRUE(switched.probe(0)) << switched.diagnostics().toStdString();
    const auto &effects = switched.engine.renderer.effects();

    // The piano's preset feeds the reverb by itself; nothing feeds the chorus.
    NotificationLog log;
    auto stream = play(switched, log, pianoTune());
    ASSERT_TRUE(stream);
    constexpr std::size_t Frames = 3 * Second / 64 * 64;
    std::vector<std::int16_t> piano;
    bool chorusRan = false, reverbRan = true;
    for (std::size_t done = 0; done < Frames; done += 64) {
        const auto part = switched.render(64);
        piano.insert(piano.end(), part.begin(), part.end());
        pump();
        chorusRan = chorusRan || effects.chorusOn();
        reverbRan = reverbRan && effects.reverbOn();
    }
    EXPECT_FALSE(chorusRan);
    EXPECT_TRUE(reverbRan);
    const auto reference = renderOn(running, pianoTune(), Frames, 64);
    EXPECT_LE(largestDifference(piano, reference), 1);
    EXPECT_GT(peak(piano, 0, Frames), 1000);
}

TEST(OfflineRender, AllocatesNothingWhileItRenders)
{
    OfflineOutput output;
    ASSERT_TRUE(output.probe(0)) << output.diagnostics().toStdString();
    StreamBuilder held = tonePreamble(48);
    held.add(0, 0xB0, 91, 100).note(0, 0, 60, 2000); // 20 s of strings, no event meanwhile
    NotificationLog log;
    auto stream = play(output, log, held);
    ASSERT_TRUE(stream);
    std::vector<std::int16_t> samples(2 * Second);
    output.render(samples.data(), Second); // the note has started, its notifications posted
    pump();
    allocations = 0;
    counting = true;
    for (int i = 0; i < 10; ++i)
        output.render(samples.data(), Second);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_GT(peak(samples, 0, Second), 1000);
    stream->stop();
    stream->close();
    output.render(samples.data(), 64);
    pump();
}
