// The render verb's WAV writer.

#include "TestSupport.h"
#include "WavWriter.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

using namespace miditest;

TEST(WavWriter, WritesStereo16BitAt44100InPieces)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.wav"));
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 2 * 1000; ++i)
        samples.push_back(std::int16_t(i * 37 - 30000));
    {
        tool::WavWriter writer;
        ASSERT_TRUE(writer.open(path)) << writer.errorString().toStdString();
        ASSERT_TRUE(writer.write(samples.data(), 300));
        ASSERT_TRUE(writer.write(samples.data() + 600, 700));
        ASSERT_TRUE(writer.close());
    }
    EXPECT_EQ(QFileInfo(path).size(), 44 + 4000);
    std::vector<std::int16_t> read;
    int channels = 0, rate = 0;
    ASSERT_TRUE(readWav(path, read, channels, rate));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(read, samples);
}

TEST(WavWriter, ReportsAFileThatCannotBeCreated)
{
    tool::WavWriter writer;
    EXPECT_FALSE(writer.open(QStringLiteral("/nonexistent/folder/out.wav")));
    EXPECT_FALSE(writer.errorString().isEmpty());
    const std::int16_t frame[2] = {1, 2};
    EXPECT_FALSE(writer.write(frame, 1));
}
