// midigen export as its users run it: what it refuses, what it leaves alone, and the version.

#include "tool_run.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using tooltest::runTool;
using tooltest::ToolRun;

namespace
{

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes path hold bytes; false when it cannot.
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

TEST(Export, BadRequestsExitWithStatusTwoAndWriteNothing)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString out = folder.filePath("out.mid");
    const struct {
        QStringList arguments;
        QString named;
    } cases[] = {
        {{"export", "note", "60"}, "output file"},
        {{"export", "note", "sixty", out}, "sixty"},
        {{"export", "note", "60", out, "extra"}, "extra"},
        {{"export", "string"}, "play string"},
        {{"export", "string", "C", out, "--set", "Loudness=3"}, "Loudness"},
        {{"export", "chord", "C", out}, "export chord"},
        // A step longer than a file's delta time can hold.
        {{"export", "string", "C,300000000;D", out}, "268435455"},
    };
    for (const auto &c : cases) {
        const ToolRun run = runTool(c.arguments);
        const std::string what = c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.status, 2) << what;
        ASSERT_EQ(run.err.size(), 1) << what;
        EXPECT_TRUE(run.err[0].contains(c.named)) << what << ": " << run.errText();
        EXPECT_FALSE(QFile::exists(out)) << what;
    }
}

TEST(Export, NothingToWriteOrNoWayToWriteExitsWithStatusOne)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // A file that is there stays as it was when the play string yields no event.
    const QString existing = folder.filePath("kept.mid");
    ASSERT_TRUE(writeFile(existing, "kept"));
    const ToolRun empty = runTool({"export", "string", ",,", existing});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, QStringList{"midigen: nothing exported: the play string holds no event"});
    EXPECT_EQ(contents(existing), "kept");

    const QString unreachable = folder.filePath("no/such/folder/out.mid");
    const ToolRun missing = runTool({"export", "note", "60", unreachable});
    EXPECT_EQ(missing.status, 1);
    ASSERT_EQ(missing.err.size(), 1);
    EXPECT_TRUE(missing.err[0].startsWith("midigen: cannot write " + unreachable + ": "))
        << missing.errText();
}

TEST(Export, ReplacesAnExistingFileWithTheStream)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString out = folder.filePath("note.mid");
    ASSERT_TRUE(writeFile(out, QByteArray(4096, 'x')));
    const ToolRun run = runTool({"export", "note", "60", out});
    ASSERT_EQ(run.status, 0) << run.errText();
    EXPECT_TRUE(run.out.isEmpty());
    // Header, track header, 18 events of 2 or 3 bytes with their deltas, end of track.
    const QByteArray file = contents(out);
    EXPECT_EQ(file.left(4), "MThd");
    EXPECT_EQ(file.mid(14, 4), "MTrk");
    EXPECT_EQ(file.right(4), QByteArray::fromHex("00FF2F00"));
    EXPECT_LT(file.size(), 100);
}

// A play string of program changes alone is played, so dump prints and export writes its
// stream: the preamble and the program change, here after a step of 243 ticks.
TEST(Export, ProgramChangesAloneAreDumpedAndWritten)
{
    const ToolRun dump = runTool({"dump", "string", "243;I29;0935"});
    ASSERT_EQ(dump.status, 0) << dump.errText();
    ASSERT_EQ(dump.out.size(), 17);
    EXPECT_EQ(dump.out[15], "F3 00 00 00 00 00 00 00 C0 1D 00 00");
    EXPECT_EQ(dump.out[16], "events 16 bytes 192");

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString out = folder.filePath("programs.mid");
    const ToolRun run = runTool({"export", "string", "243;I29;0935", out});
    ASSERT_EQ(run.status, 0) << run.errText();
    // The preamble's 15 controllers, then the program change 243 ticks later and the track's end.
    const QByteArray file = contents(out);
    EXPECT_EQ(file.size(), 14 + 8 + 15 * 4 + 4 + 4);
    EXPECT_EQ(file.right(8), QByteArray::fromHex("8173C01D00FF2F00"));
}

TEST(Tool, VersionIsTheProjectVersion)
{
    const ToolRun run = runTool({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringList{QStringLiteral("midigen " PROJECT_VERSION)});
}
