// The backup file writer against real files, a missing folder, a lock and a full device.

#include "BackupFileWriter.h"
#include "Failure.h"
#include "SharedRandom.h"
#include "WriterFailure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using noggix::RandomGenerator;
using testsupport::FailureOf;

namespace
{

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class BackupFile : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
};

} // namespace

TEST_F(BackupFile, WritesTheFillerAndDrawsOncePerByte)
{
    RandomGenerator random(7);
    RandomGenerator expected(7);
    for (int i = 0; i < 150001; ++i)
        expected.draw(44);

    const int before = OpenDescriptors();
    noggix::WriteBackupFile(path("a.brains"), random);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(random.state(), expected.state());
    const QByteArray data = Read(path("a.brains"));
    EXPECT_EQ(data.size(), 150001);
    EXPECT_EQ(data.count('A'), 150001);
}

TEST_F(BackupFile, CutsALargerFileToSize)
{
    QFile big(path("big.brains"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(400000, 'z'));
    big.close();

    RandomGenerator random;
    noggix::WriteBackupFile(path("big.brains"), random);
    EXPECT_EQ(Read(path("big.brains")), QByteArray(150001, 'A'));
}

TEST_F(BackupFile, MissingFolderNamesTheAbsolutePathAndTouchesNothing)
{
    RandomGenerator random(3);
    const QString target = path("missing") + QStringLiteral("/x.brains");
    EXPECT_EQ(FailureOf(target, random),
              QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(target));
    EXPECT_EQ(random.state(), 3u);
    EXPECT_FALSE(QFile::exists(path("missing")));
}

TEST_F(BackupFile, RelativePathIsTakenFromTheCurrentFolder)
{
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    RandomGenerator random;
    const QString failure = FailureOf(QStringLiteral("nowhere/b.brains"), random);
    noggix::WriteBackupFile(QStringLiteral("here.brains"), random);
    QDir::setCurrent(old);

    EXPECT_EQ(failure, QStringLiteral("Cannot create file \"%1/nowhere/b.brains\". No such file "
                                      "or directory")
                           .arg(QDir(dir.path()).canonicalPath()));
    EXPECT_EQ(Read(path("here.brains")).size(), 150001);
}

TEST_F(BackupFile, FolderAsPathIsACreationFailure)
{
    RandomGenerator random;
    EXPECT_EQ(FailureOf(dir.path(), random),
              QStringLiteral("Cannot create file \"%1\". Is a directory").arg(dir.path()));
}

TEST_F(BackupFile, FileLockedByAnotherWriterIsLeftAlone)
{
    QFile other(path("held.brains"));
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    other.write("keep me");
    other.flush();
    const int fd = ::open(QFile::encodeName(path("held.brains")).constData(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    RandomGenerator random;
    const int before = OpenDescriptors();
    const QString failure = FailureOf(path("held.brains"), random);
    EXPECT_EQ(OpenDescriptors(), before);
    ::close(fd);

    EXPECT_TRUE(
        failure.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path("held.brains"))));
    EXPECT_FALSE(failure.endsWith(u'.'));
    EXPECT_EQ(Read(path("held.brains")), QByteArray("keep me"));
}

TEST(BackupFileDevice, WriteFailureStopsAtTheFirstByteAndCloses)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    RandomGenerator random;
    RandomGenerator oneDraw;
    oneDraw.draw(44);
    const int before = OpenDescriptors();
    EXPECT_EQ(FailureOf(QStringLiteral("/dev/full"), random), QStringLiteral("Stream write error"));
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(random.state(), oneDraw.state());
}

TEST(SystemErrorText, DropsTrailingBlanksControlsAndPeriods)
{
    EXPECT_EQ(noggix::SystemErrorText(ENOENT), QStringLiteral("No such file or directory"));
    const QString text = noggix::SystemErrorText(EACCES);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_GT(text.back().unicode(), u'.');
}
