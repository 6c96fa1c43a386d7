// The render verb's WAV writer.

#include "TestSupport.h"
#include "WavWriter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace miditest;

TEST(WavWriter, WritesStereo16BitAt44100InPieces)
{
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 2 * 1000; ++i)
        samples.push_back(std::int16_t(i * 37 - 30000));
    tool::WavWriter writer;
    // The file as the render verb makes it: a header whose sizes come last, then the samples in
    // pieces, each taken as it is written.
    const QByteArray placeholder = writer.header();
    ASSERT_TRUE(writer.write(samples.data(), 300));
    EXPECT_EQ(writer.pendingBytes(), 1200);
    QByteArray bytes = placeholder + writer.takeSamples();
    EXPECT_EQ(writer.pendingBytes(), 0);
    ASSERT_TRUE(writer.write(samples.data() + 600, 700));
    bytes += writer.takeSamples();
    EXPECT_EQ(writer.dataBytes(), 4000u);
    bytes.replace(0, tool::WavWriter::HeaderBytes, writer.header());
    EXPECT_EQ(bytes.size(), 44 + 4000);

    // Read back by the tests' own reader.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.wav"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    std::vector<std::int16_t> read;
    int channels = 0, rate = 0;
    ASSERT_TRUE(readWav(path, read, channels, rate));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(read, samples);
}
