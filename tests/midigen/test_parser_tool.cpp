// The string verbs of the midigen tool, run as a user runs them.

#include "tool_run.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

using tooltest::runTool;
using tooltest::ToolRun;

namespace
{

const QString Jingle = QStringLiteral("I94,G3,100;I31,50;G4,B,G,G3,D4");

} // namespace

TEST(ToolStringVerbs, ListStringPrintsTheWorkedExample)
{
    const ToolRun run = runTool({"list", "string", Jingle, "--set", "Duration=400"});
    ASSERT_EQ(run.status, 0) << run.errText();
    const QStringList expected = {
        "0 6 94 0",   "0 8 43 0",   "100 6 31 0", "150 8 55 0", "200 8 59 0",
        "250 8 55 0", "300 8 43 0", "350 8 50 0", "400 9 43 0", "550 9 55 0",
        "600 9 59 0", "650 9 55 0", "700 9 43 0", "750 9 50 0", "flag false",
    };
    EXPECT_EQ(run.out, expected);
}

TEST(ToolStringVerbs, DumpStringPrintsTheJingleStream)
{
    const ToolRun run = runTool({"dump", "string", Jingle, "--set", "Modulation=100", "--set",
                                 "Sustain=true", "--set", "PitchBend=0", "--set", "Duration=400"});
    ASSERT_EQ(run.status, 0) << run.errText();
    ASSERT_EQ(run.out.size(), 30);
    EXPECT_EQ(run.out[15], "00 00 00 00 00 00 00 00 C0 5E 00 00");
    EXPECT_EQ(run.out[17], "64 00 00 00 00 00 00 00 C0 1F 00 00");
    EXPECT_EQ(run.out[24], "96 00 00 00 00 00 00 00 90 37 00 00");
    EXPECT_EQ(run.out[29], "events 29 bytes 348");
}

TEST(ToolStringVerbs, EmptyListPrintsOnlyTheTotals)
{
    for (const QString &text : {QString(), QStringLiteral("  "), QStringLiteral("H,I200")}) {
        SCOPED_TRACE("text \"" + text.toStdString() + '"');
        const ToolRun dump = runTool({"dump", "string", text});
        EXPECT_EQ(dump.status, 0) << dump.errText();
        EXPECT_EQ(dump.out, QStringList{"events 0 bytes 0"});
    }
    EXPECT_EQ(runTool({"list", "string", ""}).out, QStringList{"flag false"});
}

TEST(ToolStringVerbs, TextIsTakenAsItStands)
{
    // Texts that look like options are play strings here: " -" is the name "-", which the note
    // table finds (semitone 0), "--" one it does not. ("-" alone reads standard input.)
    EXPECT_EQ(runTool({"list", "string", " -", "--set", "Duration=7"}).out,
              (QStringList{"0 8 48 0", "7 9 48 0", "flag true"}));
    EXPECT_EQ(runTool({"list", "string", "--,C"}).out,
              (QStringList{"0 8 48 0", "50 9 48 0", "flag true"}));
    EXPECT_EQ(runTool({"list", "string", "--set", "--set", "Duration=7"}).out,
              QStringList{"flag true"});
    EXPECT_EQ(runTool({"list", "string", "-h"}).out, QStringList{"flag true"});
    // A tab token ends the play string; blanks vanish.
    EXPECT_EQ(runTool({"list", "string", " c ,\t, d"}).out,
              (QStringList{"0 8 48 0", "50 9 48 0", "flag true"}));
    // Settings still apply, Channel as the play channel.
    EXPECT_EQ(runTool({"list", "string", "I5,C", "--set", "Channel=mgCh03"}).out,
              (QStringList{"0 6 5 2", "0 8 48 2", "50 9 48 2", "flag true"}));
}

TEST(ToolStringVerbs, MissingOrExtraTextIsAUsageError)
{
    const ToolRun missing = runTool({"list", "string"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(missing.err.isEmpty());
    EXPECT_EQ(runTool({"dump", "string", "C", "D"}).status, 2);
}
