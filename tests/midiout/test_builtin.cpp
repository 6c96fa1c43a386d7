// The devices of this machine: the built-in synthesizer, started off the calling thread.

#include "TestSupport.h"
#include <midiout/Output.h>

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace miditest;
using midiout::Output;

TEST(BuiltinSynth, IsDeviceZeroAndMinusOneAndOpensOnlyWithAudioAndSoundFont)
{
    midiout::StartBuiltinSynth();
    midiout::StartBuiltinSynth(); // a second call does nothing
    Output &output = Output::system();
    EXPECT_EQ(output.deviceCount(), 1);
    const QString name = output.deviceName(0);
    EXPECT_EQ(output.deviceName(-1), name);
    EXPECT_TRUE(output.deviceName(1).isEmpty());
    EXPECT_FALSE(output.probe(1));

    const QString soundFont =
        QFileInfo(QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2")).canonicalFilePath();
    if (!soundFont.isEmpty())
        EXPECT_EQ(name, QStringLiteral("Built-in synthesizer (%1)")
                            .arg(soundFont.section(QLatin1Char('/'), -1)));
    else
        EXPECT_EQ(name, QStringLiteral("Built-in synthesizer (no SoundFont)"));

    // A stream opens at once while the sound server's answer is awaited. Without a sound server
    // (as in CI) it ends with Close alone; with one, Open comes, and a second stream is refused
    // while the first is open.
    NotificationLog log;
    const bool soundFontLoaded = !name.endsWith(QLatin1String("(no SoundFont)"));
    EXPECT_EQ(output.probe(0), soundFontLoaded);
    EXPECT_EQ(output.probe(-1), soundFontLoaded);
    auto stream = output.open(-1, &log);
    ASSERT_EQ(stream != nullptr, soundFontLoaded);
    if (!stream)
        return;
    EXPECT_EQ(output.open(1, &log), nullptr);
    EXPECT_EQ(output.open(0, &log), nullptr) << "one stream at a time";
    ASSERT_TRUE(pumpUntil([&] { return !log.received.empty(); }, 10000)) << "no answer";
    const bool opened = log.received.front() == Notification::Open;
    std::printf("%s; the sound server %s\n", qPrintable(name), opened ? "answered" : "did not");
    if (opened)
        stream->close();
    EXPECT_TRUE(pumpUntil([&] { return log.count(Notification::Close) == 1; }, 10000));
    EXPECT_EQ(log.received.size(), opened ? 2u : 1u);
}
