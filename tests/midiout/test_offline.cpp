// The engine with the General MIDI SoundFont, clocked offline: notifications, placement of every
// event on the synthesizer's clock, and what is heard.

#include "EngineOutput.h"
#include "TestSupport.h"
#include <midiout/OfflineOutput.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fluidsynth.h>

#include <cmath>
#include <memory>

using namespace miditest;
using midiout::OfflineOutput;
using midiout::Stream;
using testsupport::EngineOutput;

namespace
{

constexpr std::size_t Block = midiout::SynthRenderer::BlockFrames;
constexpr std::size_t TickFrames = 441; // 10 ms at 50 ticks per quarter note

class OfflineTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { output = new EngineOutput; }
    static void TearDownTestSuite()
    {
        delete output;
        output = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(output->probe(0)) << output->diagnostics().toStdString(); }

    // Opens a stream as the tone generator does: open, reset, time division 50.
    std::unique_ptr<Stream> openStream() { return openStream(log); }
    std::unique_ptr<Stream> openStream(NotificationLog &receiver)
    {
        auto stream = output->open(-1, &receiver);
        if (stream) {
            stream->reset();
            EXPECT_TRUE(stream->setTimeDivision(50));
        }
        return stream;
    }

    // Renders in blocks, delivering the notifications after each, as a prompt receiver does.
    std::vector<std::int16_t> render(std::size_t frames)
    {
        std::vector<std::int16_t> all;
        for (std::size_t done = 0; done < frames; done += Block) {
            const auto part = output->render(std::min(Block, frames - done));
            all.insert(all.end(), part.begin(), part.end());
            pump();
        }
        return all;
    }

    void closeStream(std::unique_ptr<Stream> &stream)
    {
        stream->stop();
        stream->reset();
        stream->close();
        render(20 * Block);
        stream.reset();
    }

    // The synthesizer's state, read with FluidSynth's own functions.
    static int voices() { return fluid_synth_get_active_voice_count(output->synth()); }
    static int controller(int channel, int number)
    {
        int value = -1;
        fluid_synth_get_cc(output->synth(), channel, number, &value);
        return value;
    }
    static int pitchBend(int channel)
    {
        int value = -1;
        fluid_synth_get_pitch_bend(output->synth(), channel, &value);
        return value;
    }

    static EngineOutput *output;
    NotificationLog log;
};

EngineOutput *OfflineTest::output = nullptr;

} // namespace

TEST_F(OfflineTest, NotificationsOfOneBufferComeInOrderAndNoneAfterClose)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    pump();
    EXPECT_EQ(log.received, std::vector<Notification>{Notification::Open});

    StreamBuilder b = tonePreamble(0);
    b.note(10, 0, 60, 20);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    render(40 * TickFrames);
    EXPECT_EQ(log.received, (std::vector<Notification>{Notification::Open, Notification::Position,
                                                       Notification::Done}));
    stream->stop(); // nothing queued: no Done
    stream->reset();
    stream->close();
    render(10 * TickFrames);
    EXPECT_EQ(log.received, (std::vector<Notification>{Notification::Open, Notification::Position,
                                                       Notification::Done, Notification::Close}));
    EXPECT_FALSE(stream->queue(b.data(), b.size()));
    EXPECT_FALSE(stream->restart());
    stream->stop();
    stream->close();
    render(10 * TickFrames);
    EXPECT_EQ(log.received.size(), 4u);
}

TEST_F(OfflineTest, StopReturnsTheQueuedBufferAndBadBuffersAreRefused)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    StreamBuilder b = tonePreamble(0);
    b.note(100, 0, 60, 20);
    EXPECT_FALSE(stream->queue(b.data(), b.size() - 1));
    EXPECT_FALSE(stream->queue(b.data(), 0));
    EXPECT_FALSE(stream->setTimeDivision(-5));
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    EXPECT_FALSE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    render(10 * TickFrames);
    stream->stop();
    pump();
    EXPECT_EQ(log.count(Notification::Done), 1);
    // The note at tick 100 is never heard.
    const auto audio = render(150 * TickFrames);
    EXPECT_EQ(peak(audio, 0, audio.size() / 2), 0);
    closeStream(stream);
    EXPECT_EQ(log.count(Notification::Done), 1);
    EXPECT_EQ(voices(), 0);
}

TEST_F(OfflineTest, PassesFollowEachOtherWithoutDriftAndAttackAtTheirTicks)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    StreamBuilder b = tonePreamble(115); // woodblock
    const std::uint64_t ticks[] = {0, 37, 100, 150};
    for (std::uint64_t tick : ticks)
        b.note(tick, 0, 76, 20);
    b.add(30, 0xB0, 7, 127); // the pass lasts 201 ticks
    constexpr std::uint64_t PassTicks = 201;
    int passes = 1;
    log.onNotification = [&](Notification n) {
        if (n == Notification::Done && passes < 3) {
            ++passes;
            EXPECT_TRUE(stream->queue(b.data(), b.size()));
        }
    };
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    render(5 * Block + 17); // off the block grid
    const double startInAudio = double(output->synthesizerFrames() - output->rendered);
    ASSERT_TRUE(stream->restart());
    const auto audio = render(3 * PassTicks * TickFrames + 50 * TickFrames);
    ASSERT_EQ(log.count(Notification::Done), 3);
    ASSERT_EQ(log.count(Notification::Position), 3);

    const int loudest = peak(audio, 0, audio.size() / 2);
    const auto found = onsets(audio, loudest / 10, loudest / 50, 4410);
    ASSERT_EQ(found.size(), 12u);
    for (std::size_t i = 0; i < found.size(); ++i) {
        const double due = double((i / 4) * PassTicks * TickFrames + ticks[i % 4] * TickFrames);
        const double ms = (double(found[i]) - startInAudio - due) * 1000.0 / 44100.0;
        EXPECT_GE(ms, 0.0) << "attack " << i;
        EXPECT_LT(ms, 5.0) << "attack " << i;
        // Each pass is the previous one moved by exactly its length, give or take one block.
        if (i >= 4) {
            const double moved = double(found[i]) - double(found[i - 4]);
            EXPECT_LT(std::abs(moved - double(PassTicks * TickFrames)), double(Block)) << i;
        }
    }
    closeStream(stream);
}

TEST_F(OfflineTest, PercussiveAttacksAreHeardAtTheirTicks)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    StreamBuilder b = tonePreamble(115); // woodblock
    const std::uint64_t ticks[] = {0, 50, 100, 137, 237};
    const std::uint8_t keys[] = {72, 74, 76, 72, 79};
    for (int i = 0; i < 5; ++i)
        b.note(ticks[i], 0, keys[i], 20);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    render(3 * Block); // start off the zero frame
    const std::uint64_t startFrame = output->synthesizerFrames();
    ASSERT_TRUE(stream->restart());
    const auto audio = render(280 * TickFrames);

    const int loudest = peak(audio, 0, audio.size() / 2);
    ASSERT_GT(loudest, 1000);
    const auto found = onsets(audio, loudest / 10, loudest / 50, 4410);
    ASSERT_EQ(found.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const double ms = (double(found[i]) - double(ticks[i] * TickFrames)) * 1000.0 / 44100.0;
        EXPECT_GE(ms, 0.0) << "attack " << i;
        EXPECT_LT(ms, 5.0) << "attack " << i;
        std::printf("attack %d: %.2f ms after its tick\n", i, ms);
    }
    std::size_t firstSound = 0;
    while (audio[2 * firstSound] == 0 && audio[2 * firstSound + 1] == 0)
        ++firstSound;
    RecordProperty("restart_to_first_sound_frames", int(firstSound));
    std::printf("restart() to first non-silent sample: %zu frames (%.2f ms)\n", firstSound,
                firstSound * 1000.0 / 44100.0);
    (void)startFrame;
    closeStream(stream);
}

namespace
{

// Sustained notes on channel 0 (strings, held by the pedal after their note offs) and a pad with
// a long release on channel 1, in its release phase from tick 40; a late note keeps it queued.
StreamBuilder heldAndReleasing()
{
    StreamBuilder b = tonePreamble(48, true);
    b.add(0, 0xC1, 89).add(0, 0xB1, 7, 127).add(0, 0xB1, 91, 0).add(0, 0xB1, 93, 0);
    b.add(0, 0x90, 48, 127).add(0, 0x90, 55, 127).add(0, 0x91, 60, 127);
    b.add(30, 0x90, 48, 0).add(0, 0x90, 55, 0).add(10, 0x91, 60, 0);
    b.add(1000, 0x90, 72, 127);
    return b;
}

} // namespace

TEST_F(OfflineTest, StopSilencesSustainedAndReleasingNotesWithoutAClick)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    const StreamBuilder b = heldAndReleasing();
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    auto audio = render(50 * TickFrames);
    const std::size_t stopFrame = audio.size() / 2;
    ASSERT_GE(voices(), 3);
    const int loudest = peak(audio, 0, stopFrame);
    ASSERT_GT(peak(audio, stopFrame - 441, stopFrame), loudest / 10) << "still sounding at stop";

    stream->stop();
    pump();
    EXPECT_EQ(log.count(Notification::Done), 1);
    const auto after = render(10 * TickFrames);
    audio.insert(audio.end(), after.begin(), after.end());

    const std::size_t silent = silentFrom(audio, stopFrame, loudest / 1000); // -60 dB
    const double ms = (silent - stopFrame) * 1000.0 / 44100.0;
    std::printf("stop: below -60 dB after %.2f ms\n", ms);
    EXPECT_LT(ms, 20.0);
    EXPECT_GT(ms, 2.0) << "a fade, not a cut";
    const int steady = largestStep(audio, stopFrame - 4410, stopFrame);
    const int fading = largestStep(audio, stopFrame, silent + 64);
    std::printf("stop: largest step %d while fading, %d before\n", fading, steady);
    EXPECT_LE(fading, steady);
    EXPECT_EQ(voices(), 0);
    closeStream(stream);
}

TEST_F(OfflineTest, ResetSilencesAndRestoresTheControllersOfAllChannels)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    StreamBuilder b = heldAndReleasing();
    for (std::uint8_t status : {0xB0, 0xBF}) {
        b.add(0, status, 1, 100).add(0, status, 11, 40).add(0, status, 64, 127);
        b.add(0, status + 0x30, 0, 0x60); // pitch bend 12288
    }
    b.add(4000, 0x90, 74, 127); // keeps the buffer queued
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    auto audio = render(1045 * TickFrames); // up to the note at tick 1040
    const std::size_t resetFrame = audio.size() / 2;
    const int loudest = peak(audio, 0, resetFrame);
    for (int channel : {0, 15}) {
        ASSERT_EQ(controller(channel, 1), 100) << "channel " << channel;
        ASSERT_EQ(pitchBend(channel), 12288) << "channel " << channel;
    }
    ASSERT_GT(voices(), 0);

    stream->reset();
    const auto after = render(10 * TickFrames);
    audio.insert(audio.end(), after.begin(), after.end());
    const double ms = (silentFrom(audio, resetFrame, loudest / 1000) - resetFrame) * 1000.0 / 44100;
    EXPECT_LT(ms, 20.0);
    EXPECT_EQ(voices(), 0);
    for (int channel : {0, 15}) {
        EXPECT_EQ(controller(channel, 1), 0) << channel;
        EXPECT_EQ(controller(channel, 11), 127) << channel;
        EXPECT_EQ(controller(channel, 64), 0) << channel;
        EXPECT_EQ(pitchBend(channel), 8192) << channel;
    }
    EXPECT_EQ(log.count(Notification::Done), 0) << "reset keeps the buffer queued";
    closeStream(stream);
}

TEST_F(OfflineTest, NextStreamSoundsFullyOnceTheStoppedOneHasFaded)
{
    auto first = openStream();
    ASSERT_TRUE(first);
    const StreamBuilder held = heldAndReleasing();
    ASSERT_TRUE(first->queue(held.data(), held.size()));
    ASSERT_TRUE(first->restart());
    render(50 * TickFrames);

    // The tone generator's next request: stop, reset, close, open, reset, queue, restart.
    first->stop();
    first->reset();
    first->close();
    NotificationLog secondLog;
    auto second = openStream(secondLog);
    ASSERT_TRUE(second);
    StreamBuilder b = tonePreamble(115);
    b.note(0, 0, 72, 20);
    ASSERT_TRUE(second->queue(b.data(), b.size()));
    const std::uint64_t restartFrame = output->synthesizerFrames() - output->rendered;
    ASSERT_TRUE(second->restart());
    const auto audio = render(40 * TickFrames);
    EXPECT_EQ(secondLog.count(Notification::Done), 1);

    // The woodblock waits for the fade and the silence after it, then sounds in full: not
    // caught in the fade, as loud as when it plays alone.
    const int loudest = peak(audio, 0, audio.size() / 2);
    EXPECT_GT(loudest, 3000);
    std::size_t zeros = 0, sounds = 0;
    for (; sounds < audio.size() / 2 && (zeros < 64 || audio[2 * sounds] == 0); ++sounds)
        zeros = audio[2 * sounds] == 0 && audio[2 * sounds + 1] == 0 ? zeros + 1 : 0;
    const double waited = double(sounds) - double(restartFrame);
    std::printf("the next stream sounded %.2f ms after its restart\n", waited * 1000.0 / 44100);
    EXPECT_GT(waited, 4.0 * Block);
    EXPECT_LT(waited, 30.0 * Block);
    second->stop();
    second->reset();
    second->close();
    render(20 * Block);
}

TEST_F(OfflineTest, NoteOffsAndVelocityZeroNoteOnsEndNotes)
{
    auto stream = openStream();
    ASSERT_TRUE(stream);
    StreamBuilder b = tonePreamble(16); // an organ sounds until its note off
    b.add(0, 0xC1, 16).add(0, 0xB1, 7, 127);
    b.add(0, 0x90, 60, 127).add(0, 0x91, 67, 127);
    b.add(20, 0x90, 60, 0).add(0, 0x81, 67, 64);
    b.add(80, 0xB0, 7, 127); // keeps the stream queued for a second
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    auto audio = render(10 * TickFrames);
    EXPECT_EQ(voices(), 4) << "two notes, two voices each";
    const int loudest = peak(audio, 0, audio.size() / 2);
    audio = render(80 * TickFrames);
    EXPECT_EQ(voices(), 0);
    EXPECT_LT(peak(audio, audio.size() / 2 - 4410, audio.size() / 2), loudest / 100)
        << "reverb only";
    EXPECT_EQ(log.count(Notification::Done), 0);
    closeStream(stream);
}

TEST_F(OfflineTest, DeviceWithoutSoundFontCannotBeOpened)
{
    OfflineOutput empty({QStringLiteral("/nonexistent/none.sf2")});
    EXPECT_FALSE(empty.probe(0));
    EXPECT_FALSE(empty.probe(-1));
    EXPECT_EQ(empty.open(0, &log), nullptr);
    EXPECT_FALSE(empty.diagnostics().isEmpty());
    EXPECT_EQ(output->open(1, &log), nullptr) << "one device only";
    pump();
    EXPECT_TRUE(log.received.empty());
}

TEST_F(OfflineTest, ABufferThatNeedsNewPresetsWaitsForTheFadeWithoutCuttingIt)
{
    // A held note, then the next request's buffer queued while its fade is under way; the new
    // buffer's instrument (a pad no other case plays) must be loaded first, which may only
    // happen once nothing sounds.
    auto first = openStream();
    ASSERT_TRUE(first);
    StreamBuilder held = tonePreamble(0);
    held.note(0, 0, 60, 300);
    ASSERT_TRUE(first->queue(held.data(), held.size()));
    ASSERT_TRUE(first->restart());
    render(30 * TickFrames);

    first->stop();
    auto fade = render(Block); // the fade's first block
    first->reset();
    first->close();
    NotificationLog secondLog;
    auto second = openStream(secondLog);
    ASSERT_TRUE(second);
    StreamBuilder pad = tonePreamble(88);
    pad.note(0, 0, 72, 30);
    ASSERT_TRUE(second->queue(pad.data(), pad.size()));
    ASSERT_TRUE(second->restart());
    const auto rest = render(40 * TickFrames);
    fade.insert(fade.end(), rest.begin(), rest.end());

    // Every block of the fade but the last still sounds: none was rendered as silence while
    // the presets were loaded.
    for (std::size_t block = 0; block < 3; ++block)
        EXPECT_GT(peak(fade, block * Block, (block + 1) * Block), 0)
            << "block " << block << " of the fade is silent";
    // Then the pad sounds, from its preamble.
    EXPECT_GT(peak(fade, 10 * Block, fade.size() / 2), 1000);
    EXPECT_GE(secondLog.count(Notification::Position), 1);
    closeStream(second);
    first.reset();
}
