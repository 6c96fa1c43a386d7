// The devices of this machine: the built-in synthesizer, started off the calling thread.

#include "BuiltinSynth.h"
#include "SynthEngine.h"
#include "TestSupport.h"
#include <midiout/Output.h>

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

    midiout::SynthEngine *engine = midiout::WaitForBuiltinSynth(3000);
    ASSERT_NE(engine, nullptr);
    std::printf("%s\n%s\n", qPrintable(name), qPrintable(engine->diagnostics()));
    if (engine->hasSoundFont())
        EXPECT_EQ(name, QStringLiteral("Built-in synthesizer (%1)")
                            .arg(engine->soundFontPath().section(QLatin1Char('/'), -1)));
    else
        EXPECT_EQ(name, QStringLiteral("Built-in synthesizer (no SoundFont)"));

    // Without a sound card (as in CI) the device cannot be opened, and nothing is posted.
    NotificationLog log;
    const bool usable = engine->hasSoundFont() && engine->hasAudioDriver();
    EXPECT_EQ(output.probe(0), usable) << engine->diagnostics().toStdString();
    EXPECT_EQ(output.probe(-1), usable);
    auto stream = output.open(-1, &log);
    EXPECT_EQ(stream != nullptr, usable);
    EXPECT_EQ(output.open(1, &log), nullptr);
    if (stream)
        stream->close();
    pump();
    EXPECT_EQ(log.received.size(), usable ? 2u : 0u);
}
