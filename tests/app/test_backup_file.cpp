// The backup file writer against real files, links, names that are not UTF-8, a missing folder,
// a lock and a full device.

#include "BackupFileWriter.h"
#include "Failure.h"
#include "PathText.h"
#include "SharedRandom.h"
#include "WriterFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

TEST_F(BackupFile, ReplacesTheFileWithItsPermissionsAndOwnerAndFollowsLinks)
{
    const QString file = path("kept.brains");
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older backup");
    old.close();
    const QByteArray name = QFile::encodeName(file);
    // Root may give the file to another user, and keep its set-ID bits, which a change of owner
    // clears: the replacement must have both.
    const bool root = ::geteuid() == 0;
    const mode_t mode = root ? 06750 : 0640;
    if (root)
        ASSERT_EQ(::chown(name.constData(), 4321, 4322), 0);
    ASSERT_EQ(::chmod(name.constData(), mode), 0);
    ASSERT_TRUE(QFile::link(file, path("link.brains")));
    struct stat before = {};
    ASSERT_EQ(::stat(name.constData(), &before), 0);

    RandomGenerator random;
    noggix::WriteBackupFile(path("link.brains"), random);
    struct stat after = {};
    ASSERT_EQ(::stat(name.constData(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "written in place, not replaced";
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(Read(file), QByteArray(noggix::BackupFileSize, 'A'));
    EXPECT_EQ(QFileInfo(path("link.brains")).symLinkTarget(), file);

    // A new file gets what any program's new file gets: 0666 less the umask.
    const mode_t umask = ::umask(027);
    noggix::WriteBackupFile(path("new.brains"), random);
    ::umask(umask);
    struct stat created = {};
    ASSERT_EQ(::stat(QFile::encodeName(path("new.brains")).constData(), &created), 0);
    EXPECT_EQ(created.st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              (QStringList{"kept.brains", "link.brains", "new.brains"}));
}

TEST_F(BackupFile, NamesThatAreNotUtf8AreTheirBytes)
{
    const QByteArray folder = QFile::encodeName(dir.path());
    const QString file = noggix::pathText(folder + "/\xff\xe9t\xe9.brains");
    RandomGenerator random;
    noggix::WriteBackupFile(file, random);
    QFile written;
    const int fd = ::open((folder + "/\xff\xe9t\xe9.brains").constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(written.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    EXPECT_EQ(written.readAll().size(), noggix::BackupFileSize);

    // The message shows each byte that is no text as the replacement character.
    const QString missing = noggix::pathText(folder + "/\xff/x.brains");
    EXPECT_EQ(FailureOf(missing, random),
              QStringLiteral("Cannot create file \"%1/\uFFFD/x.brains\". No such file or directory")
                  .arg(dir.path()));
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
    EXPECT_EQ(noggix::systemErrorText(ENOENT), QStringLiteral("No such file or directory"));
    const QString text = noggix::systemErrorText(EACCES);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_GT(text.back().unicode(), u'.');
}
