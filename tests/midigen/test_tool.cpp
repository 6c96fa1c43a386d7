// The midigen tool as its users run it: output of dump note, settings, and usage errors.

#include "tool_run.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using tooltest::runTool;
using tooltest::ToolRun;

TEST(Tool, DumpNotePrintsTheStream)
{
    const ToolRun run = runTool({"dump", "note", "60"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.isEmpty()) << run.errText();
    ASSERT_EQ(run.out.size(), 19);
    const QRegularExpression eventLine("^[0-9A-F]{2}( [0-9A-F]{2}){11}$");
    for (int i = 0; i < 18; ++i)
        EXPECT_TRUE(eventLine.match(run.out[i]).hasMatch()) << run.out[i].toStdString();
    EXPECT_EQ(run.out[0], "00 00 00 00 00 00 00 00 B0 79 00 40");
    EXPECT_EQ(run.out[17], "32 00 00 00 00 00 00 00 90 3C 00 00");
    EXPECT_EQ(run.out[18], "events 18 bytes 216");
}

TEST(Tool, SettingsGoThroughTheSetters)
{
    const ToolRun run =
        runTool({"dump", "note", "-5", "--set", "Channel=mgCh10", "--set", "Instrument=mgViolin",
                 "--set=Pan=-150", "--set", "Sustain=true", "--set", "Duration=7"});
    ASSERT_EQ(run.status, 0) << run.errText();
    ASSERT_EQ(run.out.size(), 19);
    EXPECT_EQ(run.out[0], "00 00 00 00 00 00 00 00 B9 79 00 40");
    EXPECT_EQ(run.out[7], "00 00 00 00 00 00 00 00 B9 0A 01 00") << "pan clamped to -100";
    EXPECT_EQ(run.out[12], "00 00 00 00 00 00 00 00 B9 40 7F 00");
    EXPECT_EQ(run.out[15], "00 00 00 00 00 00 00 00 C9 28 00 00");
    EXPECT_EQ(run.out[16], "00 00 00 00 00 00 00 00 99 00 7F 00") << "note -5 limited to 0";
    EXPECT_EQ(run.out[17], "07 00 00 00 00 00 00 00 99 00 00 00");
}

TEST(Tool, OneRuleForEverySetting)
{
    // A value that the setter's argument holds is taken; one beyond that type is bad input.
    const QStringList int32 = {"-2147483648", "2147483647", "-2147483649", "2147483648"};
    const QStringList uint32 = {"0", "4294967295", "-1", "4294967296"};
    const QStringList byte = {"0", "255", "-1", "256"};
    const struct {
        QStringList settings;
        QStringList values; // two taken, two refused
    } types[] = {
        {{"Volume", "Pan", "Reverb", "Chorus", "Modulation", "PitchBend", "PBDelay", "PBDuration",
          "Octave"},
         int32},
        {{"Duration", "Loops"}, uint32},
        {{"Note", "Instrument", "Channel"}, byte},
        {{"Sustain"}, {"1", "false", "2", "-1"}},
    };
    for (const auto &type : types) {
        for (const QString &setting : type.settings) {
            for (int i = 0; i < 4; ++i) {
                const QString assignment = setting + '=' + type.values[i];
                const ToolRun run = runTool({"dump", "note", "60", "--set", assignment});
                EXPECT_EQ(run.status, i < 2 ? 0 : 2) << assignment.toStdString();
                if (i >= 2) {
                    ASSERT_EQ(run.err.size(), 1) << assignment.toStdString();
                    EXPECT_TRUE(run.err[0].startsWith("midigen: invalid value for " + setting +
                                                      ": " + type.values[i] + " ("))
                        << run.err[0].toStdString();
                }
            }
        }
    }

    // Taken values are clamped by the setter (-1 is a volume of 0); leading zeros change
    // nothing.
    EXPECT_EQ(runTool({"dump", "note", "60", "--set", "Volume=-1"}).out,
              runTool({"dump", "note", "60", "--set", "Volume=0"}).out);
    EXPECT_EQ(runTool({"dump", "note", "60", "--set", "Duration=000000000000000000000007"}).out,
              runTool({"dump", "note", "60", "--set", "Duration=7"}).out);
}

TEST(Tool, UsageErrorsExitWithStatusTwo)
{
    const struct {
        QStringList arguments;
        QString named;
    } cases[] = {
        {{"frobnicate"}, "frobnicate"},
        {{"dump", "chord", "60"}, "dump chord"},
        {{"dump", "note", "60", "--set", "Loudness=3"}, "Loudness"},
        {{"dump", "note", "60", "--set", "Instrument=mgKazoo"}, "mgKazoo"},
        {{"dump", "note", "60", "--set", "Sustain=maybe"}, "maybe"},
        {{"dump", "note", "60", "--set", "Volume=ten"}, "ten"},
        {{"dump", "note", "60", "--set", "IsPlaying=true"}, "IsPlaying"},
        {{"dump", "note", "sixty"}, "sixty"},
        {{"dump", "note", "60", "--loud"}, "--loud"},
    };
    for (const auto &c : cases) {
        const ToolRun run = runTool(c.arguments);
        const std::string what = c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.status, 2) << what;
        EXPECT_TRUE(run.out.isEmpty()) << what;
        ASSERT_EQ(run.err.size(), 1) << what;
        EXPECT_TRUE(run.err[0].contains(c.named)) << what << ": " << run.err[0].toStdString();
    }
}

TEST(Tool, HelpDescribesEveryVerb)
{
    const ToolRun run = runTool({"--help"});
    EXPECT_EQ(run.status, 0);
    const QString text = run.out.join('\n');
    EXPECT_TRUE(text.contains("midigen dump note N")) << text.toStdString();
    EXPECT_TRUE(text.contains("--set NAME=VALUE"));
    EXPECT_TRUE(text.contains("PBDuration"));
}

TEST(Tool, RenderWritesTheSoundUntilItHasDiedAway)
{
    const QString wav = QDir::temp().filePath(
        QStringLiteral("midigen-render-%1.wav").arg(QCoreApplication::applicationPid()));
    const ToolRun run = runTool({"render", "string", "C,E,G", wav, "--set", "Duration=30"});
    ASSERT_EQ(run.status, 0) << run.errText();
    QFile file(wav);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.remove();
    ASSERT_GT(bytes.size(), 44);
    const auto word = [&](int at) {
        return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 |
               quint32(quint8(bytes[at + 2])) << 16 | quint32(quint8(bytes[at + 3])) << 24;
    };
    EXPECT_EQ(bytes.mid(0, 4), "RIFF");
    EXPECT_EQ(bytes.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(word(22) & 0xFFFF, 2u) << "stereo";
    EXPECT_EQ(word(24), 44100u);
    EXPECT_EQ(word(34) & 0xFFFF, 16u) << "16-bit";
    // The chord closes at 0.3 s; then half a second of silence ends the file.
    const double seconds = double(word(40)) / (44100 * 4);
    EXPECT_GT(seconds, 0.75);
    EXPECT_LT(seconds, 2.0);
    EXPECT_NE(bytes.mid(44, 44100 * 4 / 10).count('\0'), 44100 * 4 / 10) << "sound from the start";
}

// A device that does not exist, by number or by name, is bad input: the message lists every
// device as devices does, so that the user can choose one.
TEST(Tool, PlayOnADeviceThatDoesNotExistListsTheDevices)
{
    const ToolRun devices = runTool({"devices"});
    ASSERT_EQ(devices.status, 0) << devices.errText();
    ASSERT_FALSE(devices.out.isEmpty());
    EXPECT_TRUE(devices.out[0].startsWith("0 Built-in synthesizer ("))
        << devices.out[0].toStdString();
    QStringList listed;
    for (const QString &line : devices.out)
        listed.append("  " + line);

    const struct {
        QString device;
        QString named;
    } cases[] = {
        {"7", "no device 7"},
        {"-2", "no device -2"},
        {"2147483647", "no device 2147483647"},
        {"Synth:midi_in", "no device \"Synth:midi_in\""},
        {"Built-in", "no device \"Built-in\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.device.toStdString());
        const ToolRun run = runTool({"play", "note", "60", "--device", c.device});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_EQ(run.err, QStringList{"midigen: " + c.named + "; the devices are:"} + listed);
    }
}

TEST(Tool, PlayAndRenderSayWhyNothingSounds)
{
    const QString wav = QDir::temp().filePath(QStringLiteral("midigen-empty.wav"));
    const ToolRun empty = runTool({"render", "string", ",,", wav});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, QStringList{"midigen: nothing rendered: the play string holds no event"});
    QFile::remove(wav);

    const ToolRun endless = runTool({"render", "note", "60", wav, "--set", "Loops=0"});
    EXPECT_EQ(endless.status, 2);
    QFile::remove(wav);
}
