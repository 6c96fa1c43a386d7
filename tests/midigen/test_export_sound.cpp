// A file written by midigen export, played by FluidSynth's own file player, sounds its notes
// where midigen render sounds them.

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace
{

constexpr double FrameMs = 1000.0 / 44100;

// Runs program with arguments; the failure message carries what it printed.
void run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForFinished(60000)) << program.toStdString() << " did not finish";
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << program.toStdString();
    ASSERT_EQ(process.exitCode(), 0)
        << program.toStdString() << ": " << process.readAll().toStdString();
}

// The attacks of a rendered WAV file, in milliseconds.
std::vector<double> attacks(const QString &wav)
{
    std::vector<std::int16_t> audio;
    int channels = 0;
    int rate = 0;
    EXPECT_TRUE(miditest::readWav(wav, audio, channels, rate)) << wav.toStdString();
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    const int loudest = miditest::peak(audio, 0, audio.size() / 2);
    EXPECT_GT(loudest, 1000) << wav.toStdString();
    std::vector<double> result;
    for (std::size_t frame : miditest::onsets(audio, loudest / 10, loudest / 50, 4410))
        result.push_back(double(frame) * FrameMs);
    return result;
}

} // namespace

TEST(ExportSound, FluidSynthPlaysTheFileWithTheOnsetsOfRender)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString mid = folder.filePath("woodblock.mid");
    const QString rendered = folder.filePath("render.wav");
    const QString played = folder.filePath("fluidsynth.wav");
    // A woodblock at 0, 0.5, 1.0, 1.37 and 2.37 s: the gaps need one- and two-byte deltas.
    const QString tune = QStringLiteral("I115,C5;20,50;D5,50;E5,37;C5,100;G5");

    run(QStringLiteral(MIDIGEN_TOOL), {"export", "string", tune, mid});
    run(QStringLiteral(MIDIGEN_TOOL), {"render", "string", tune, rendered});
    run(QStringLiteral("fluidsynth"),
        {"-n", "-i", "-q", "-r", "44100", "-F", played, QStringLiteral(SOUNDFONT), mid});

    const std::vector<double> expected = attacks(rendered);
    const std::vector<double> found = attacks(played);
    ASSERT_EQ(expected.size(), 5u);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        std::printf("attack %zu: render %.2f ms, fluidsynth %.2f ms\n", i, expected[i], found[i]);
        EXPECT_NEAR(found[i], expected[i], 5.0) << "attack " << i;
    }
}
