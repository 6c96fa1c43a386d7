// The tone generator heard through the real synthesizer, rendered offline: where its notes land
// in the engine and in the audio, across passes, and how its jingle ends. The output owner is
// process-wide, so each test needs a process of its own, as CTest runs them.

#include "BackupJingle.h"
#include "SynthRenderer.h"
#include "TestSupport.h"
#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace
{

constexpr std::size_t Block = midiout::SynthRenderer::BlockFrames;
constexpr std::size_t TickFrames = 441; // 10 ms
constexpr std::size_t Second = 44100;

class Sound : public ::testing::Test
{
protected:
    midiout::OfflineOutput output;
    std::unique_ptr<TMidiGen> gen = std::make_unique<TMidiGen>(output);
    std::vector<std::int16_t> audio; // everything rendered since the request
    std::uint64_t startFrame = 0;    // the synthesizer's frame when the request was made
    std::size_t closedAt = 0;        // frame of audio at which the stream was seen closed

    void SetUp() override { ASSERT_TRUE(output.probe(0)) << qPrintable(output.diagnostics()); }

    // Makes the request, then renders block by block, handling notifications in between, while
    // the stream is open and for tail frames after its close.
    void play(const std::function<bool()> &request, std::size_t tail,
              std::size_t limit = 60 * Second)
    {
        startFrame = output.synthesizerFrames();
        ASSERT_TRUE(request());
        while (audio.size() / 2 < limit) {
            const auto part = output.render(Block);
            audio.insert(audio.end(), part.begin(), part.end());
            QCoreApplication::processEvents();
            if (!gen->IsPlaying()) {
                if (closedAt == 0)
                    closedAt = audio.size() / 2;
                if (audio.size() / 2 >= closedAt + tail)
                    return;
            }
        }
        FAIL() << "the stream did not close";
    }

    double ms(double frames) const { return frames * 1000.0 / Second; }
};

} // namespace

TEST_F(Sound, PassesRepeatWithoutDrift)
{
    // A woodblock at 0, 0.5 and 1.0 s; each pass ends with its last note off at tick 120.
    gen->setLoops(3);
    play([this] { return gen->PlayString("I115,C5;20,50;E5;20,50;G5;20"); }, Second / 2);
    const int loudest = miditest::peak(audio, 0, audio.size() / 2);
    ASSERT_GT(loudest, 1000);
    const auto found = miditest::onsets(audio, loudest / 10, loudest / 50, 4410);
    ASSERT_EQ(found.size(), 9u);
    // Each pass begins at the tick after the previous pass's last event: every attack comes
    // 121 ticks after its match of the previous pass, within one block.
    for (std::size_t i = 3; i < found.size(); ++i) {
        const double moved = double(found[i]) - double(found[i - 3]);
        EXPECT_LT(std::abs(moved - 121.0 * TickFrames), double(Block)) << "attack " << i;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const double error = ms(double(found[i])) - 500.0 * double(i);
        EXPECT_GE(error, 0.0) << "attack " << i;
        EXPECT_LE(error, 5.0) << "attack " << i;
    }
}

TEST_F(Sound, SeparatedPercussiveNotesAttackAtTheirTimes)
{
    // A woodblock at 0, 0.5, 1.0, 1.37 and 2.37 s.
    play([this] { return gen->PlayString("I115,C5;20,50;D5,50;E5,37;C5,100;G5"); }, Second / 2);
    const int loudest = miditest::peak(audio, 0, audio.size() / 2);
    ASSERT_GT(loudest, 1000);
    const auto found = miditest::onsets(audio, loudest / 10, loudest / 50, 4410);
    const double expected[] = {0, 500, 1000, 1370, 2370};
    ASSERT_EQ(found.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const double error = ms(double(found[i])) - expected[i];
        std::printf("attack %d: %.2f ms after its time\n", i, error);
        EXPECT_GE(error, -5.0) << "attack " << i;
        EXPECT_LE(error, 5.0) << "attack " << i;
    }
}

TEST_F(Sound, TheJingleSoundsAtOnceAndFallsSilentSoonAfterItsStreamCloses)
{
    // The backup run's settings: sustained notes with a long release.
    noggix::applyJingleSettings(*gen);
    play([this] { return gen->PlayString(noggix::BackupJingle); }, 2 * Second);

    std::size_t firstSound = 0;
    while (firstSound < audio.size() / 2 && audio[2 * firstSound] == 0 &&
           audio[2 * firstSound + 1] == 0)
        ++firstSound;
    std::printf("first sound %.2f ms after the request\n", ms(double(firstSound)));
    EXPECT_LT(ms(double(firstSound)), 10.0);

    // The last note off is at 7.5 s; the stream closes right after it.
    std::printf("stream closed at %.3f s\n", double(closedAt) / Second);
    EXPECT_GE(closedAt, 750 * TickFrames);
    EXPECT_LE(closedAt, 750 * TickFrames + 4 * Block + Second / 10);

    const int loudest = miditest::peak(audio, 0, closedAt);
    ASSERT_GT(loudest, 1000);
    EXPECT_GT(miditest::peak(audio, 700 * TickFrames, 745 * TickFrames), loudest / 10)
        << "the sustained notes still sound just before the end";
    const std::size_t silent = miditest::silentFrom(audio, closedAt, loudest / 1000);
    std::printf("below -60 dB of the peak %.1f ms after the close\n",
                ms(double(silent) - double(closedAt)));
    EXPECT_LE(silent, closedAt + Second);
}

// A play string of program changes alone plays its stream: it selects the sound, nothing is
// heard, and the stream ends after its pass like any other.
TEST_F(Sound, ProgramChangesAloneAreSilentAndTheStreamEnds)
{
    std::vector<bool> told;
    QObject::connect(gen.get(), &TMidiGen::IsPlayingChanged,
                     [&](bool playing) { told.push_back(playing); });
    play([this] { return gen->PlayString("50;I17"); }, Second / 10);
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    // Its one pass lasts until the program change at 0.5 s.
    EXPECT_GE(closedAt, 50 * TickFrames);
    EXPECT_LE(closedAt, 50 * TickFrames + 4 * Block + Second / 10);
    EXPECT_EQ(miditest::peak(audio, 0, audio.size() / 2), 0) << "nothing is heard";
}
