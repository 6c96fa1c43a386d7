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

    // Without a sound server or card (as in CI) the device cannot be opened, and nothing is
    // posted; with one, the stream opens, and a second one is refused while it is open.
    NotificationLog log;
    const bool usable = output.probe(0);
    EXPECT_EQ(output.probe(-1), usable);
    std::printf("%s; usable: %d\n", qPrintable(name), usable);
    auto stream = output.open(-1, &log);
    EXPECT_EQ(stream != nullptr, usable);
    EXPECT_EQ(output.open(1, &log), nullptr);
    EXPECT_EQ(output.open(0, &log), nullptr) << "one stream at a time";
    if (stream)
        stream->close();
    pump();
    EXPECT_EQ(log.received.size(), usable ? 2u : 0u);
}
