// The built-in synthesizer's SoundFonts chosen by the program: taken when it is built, refused
// once it is. A process of its own: the synthesizer is built once per process.

#include <midiout/Output.h>

#include <QFileInfo>

#include <gtest/gtest.h>

TEST(BuiltinSynth, TakesTheChosenSoundFontsWhenItIsBuilt)
{
    // Only a SoundFont that is not there: the system's, which loads, is not tried.
    ASSERT_TRUE(midiout::SetBuiltinSoundFonts({QStringLiteral("/nonexistent/chosen.sf2")}));
    midiout::StartBuiltinSynth();
    midiout::Output &output = midiout::Output::system();
    EXPECT_EQ(output.deviceName(0), QStringLiteral("Built-in synthesizer (no SoundFont)"));
    EXPECT_FALSE(output.probe(0));
    // Built: a later choice changes nothing.
    EXPECT_FALSE(midiout::SetBuiltinSoundFonts({}));
    EXPECT_EQ(output.deviceName(0), QStringLiteral("Built-in synthesizer (no SoundFont)"));
}
