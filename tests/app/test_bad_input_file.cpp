// The backup file writer on paths that cannot take the file: a read-only file or folder, a path
// through a file, a name too long, and a disk that fills up in the middle of the file. Each
// failure must name the absolute path and the system's reason, and lose nothing that was there.

#include "BackupFileWriter.h"
#include "Failure.h"
#include "SharedRandom.h"
#include "WriterFailure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The writer's lock goes through this definition, which takes precedence over the C library's:
// while RefuseLocks is set, every lock is refused as a file system without locks refuses it.
namespace
{
bool RefuseLocks = false;
}

extern "C" int flock(int fd, int operation)
{
    if (RefuseLocks) {
        errno = ENOLCK;
        return -1;
    }
    return int(::syscall(SYS_flock, fd, operation));
}

using noggix::RandomGenerator;
using testsupport::FailureOf;
using namespace std::chrono_literals;

namespace
{

// While alive, the calling thread does without the capabilities that let root write any file,
// so that permission bits hold for it as they do for a user. Capabilities are per thread on
// Linux; the permitted set is kept, so the destructor can raise them again.
class WithoutFileOverride
{
public:
    WithoutFileOverride()
    {
        if (Capabilities(SYS_capget, m_saved) != 0)
            return;
        m_valid = true;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &=
            ~(Bit(CAP_DAC_OVERRIDE) | Bit(CAP_DAC_READ_SEARCH) | Bit(CAP_FOWNER));
        Capabilities(SYS_capset, lowered);
    }
    ~WithoutFileOverride()
    {
        if (m_valid)
            Capabilities(SYS_capset, m_saved);
    }
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    static __u32 Bit(int capability) { return __u32(1) << capability; }
    static int Capabilities(long call, __user_cap_data_struct *data)
    {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        return int(::syscall(call, &header, data));
    }

    __user_cap_data_struct m_saved[2] = {};
    bool m_valid = false;
};

// Lowers the process's file size limit to bytes, with SIGXFSZ ignored so that a write past it
// fails with EFBIG instead of ending the process, as a full disk makes it fail partway.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {bytes, m_saved.rlim_max};
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_saved = {};
    void (*m_handler)(int) = SIG_DFL;
    bool m_active = false;
};

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(data), data.size());
}

// The names in folder, sorted.
QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden |
                                  QDir::System);
}

QString Creation(const QString &path, const char *reason)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(path, QString::fromLatin1(reason));
}

QString Creation(const QString &path, int error)
{
    return QStringLiteral("Cannot create file \"%1\". %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

class BadBackupPath : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
};

} // namespace

TEST_F(BadBackupPath, ReadOnlyFileOrFolderIsRefusedAndKeepsWhatIsThere)
{
    const QString file = path(QStringLiteral("kept.brains"));
    Write(file, "an older backup");
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    // A folder that takes no new file: neither a new backup nor the new file that would replace
    // a writable one inside it.
    const QString folder = path(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString inside = folder + QStringLiteral("/inside.brains");
    Write(inside, "writable, in a locked folder");
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    RandomGenerator random(11);
    QString onFile;
    QString inFolder;
    QString onInside;
    {
        const WithoutFileOverride asAUser;
        onFile = FailureOf(file, random);
        inFolder = FailureOf(folder + QStringLiteral("/new.brains"), random);
        onInside = FailureOf(inside, random);
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    EXPECT_EQ(onFile, Creation(file, "Permission denied"));
    EXPECT_EQ(Read(file), QByteArray("an older backup"));
    EXPECT_EQ(inFolder, Creation(folder + QStringLiteral("/new.brains"), "Permission denied"));
    EXPECT_EQ(onInside, Creation(inside, "Permission denied"));
    EXPECT_EQ(Read(inside), QByteArray("writable, in a locked folder"));
    EXPECT_EQ(Entries(folder), QStringList{QStringLiteral("inside.brains")});
    EXPECT_EQ(random.state(), 11u);
}

TEST_F(BadBackupPath, PathThroughAFileOrTooLongLeavesTheFileAlone)
{
    const QString file = path(QStringLiteral("notes.txt"));
    Write(file, "not a folder");
    RandomGenerator random(5);

    const QString through = file + QStringLiteral("/x.brains");
    EXPECT_EQ(FailureOf(through, random), Creation(through, "Not a directory"));
    EXPECT_EQ(Read(file), QByteArray("not a folder"));

    const QString longName = path(QString(300, u'n') + QStringLiteral(".brains"));
    EXPECT_EQ(FailureOf(longName, random), Creation(longName, "File name too long"));
    EXPECT_EQ(random.state(), 5u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("notes.txt")});
}

TEST_F(BadBackupPath, DiskFullPartwayKeepsTheOlderFileAndTheDraws)
{
    // The file size limit stops the writer at its 1001st byte, as a full disk would; the older,
    // larger backup stays as it was, and the byte that failed had its draw.
    const QString file = path(QStringLiteral("partial.brains"));
    Write(file, QByteArray(200000, 'z'));
    RandomGenerator random(9);
    RandomGenerator expected(9);
    for (int i = 0; i < 1001; ++i)
        expected.draw(44);

    QString failure;
    {
        const FileSizeLimit disk(1000);
        ASSERT_TRUE(disk.active());
        failure = FailureOf(file, random);
    }
    EXPECT_EQ(failure, QStringLiteral("Stream write error"));
    EXPECT_EQ(Read(file), QByteArray(200000, 'z'));
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("partial.brains")});
    EXPECT_EQ(random.state(), expected.state());

    // The next attempt with room to spare replaces it.
    noggix::WriteBackupFile(file, random);
    EXPECT_EQ(Read(file), QByteArray(noggix::BackupFileSize, 'A'));
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("partial.brains")});
}

TEST_F(BadBackupPath, FullDiskKeepsTheEarlierBackupByteForByte)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    // A 64 KiB file system of this process's own, holding a backup of 60,000 bytes from before.
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << std::strerror(errno);
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
        << std::strerror(errno);
    const QString disk = path(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkdir(disk));
    const QByteArray diskName = QFile::encodeName(disk);
    ASSERT_EQ(::mount("tmpfs", diskName.constData(), "tmpfs", 0, "size=64k"), 0)
        << std::strerror(errno);
    const QString earlier = disk + QStringLiteral("/mybrain.brains");
    QByteArray before(60000, 'x');
    for (int i = 0; i < before.size(); ++i)
        before[i] = char(i * 7);
    Write(earlier, before);

    RandomGenerator random(21);
    const QString onEarlier = FailureOf(earlier, random);
    const RandomGenerator afterFirst = random;
    const QString onNew = FailureOf(disk + QStringLiteral("/new.brains"), random);
    const QByteArray kept = Read(earlier);
    const QStringList left = Entries(disk);
    EXPECT_EQ(::umount2(diskName.constData(), MNT_DETACH), 0);

    EXPECT_EQ(onEarlier, QStringLiteral("Stream write error"));
    EXPECT_EQ(onNew, QStringLiteral("Stream write error"));
    EXPECT_TRUE(kept == before) << "the earlier backup changed: " << kept.size() << " bytes";
    EXPECT_EQ(left, QStringList{QStringLiteral("mybrain.brains")}) << "nothing left beside it";
    // Each write drew for the bytes it wrote and the one that failed: some, but not all.
    const auto drawsBetween = [](RandomGenerator from, const RandomGenerator &to) {
        for (int draws = 0; draws <= noggix::BackupFileSize; ++draws) {
            if (from.state() == to.state())
                return draws;
            from.draw(44);
        }
        return -1;
    };
    const int first = drawsBetween(RandomGenerator(21), afterFirst);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, noggix::BackupFileSize);
    const int second = drawsBetween(afterFirst, random);
    EXPECT_GT(second, 0);
    EXPECT_LT(second, noggix::BackupFileSize);
}

TEST_F(BadBackupPath, FifoFailsAtOnceWithOrWithoutAReader)
{
    const QString fifo = path(QStringLiteral("pipe.brains"));
    const QByteArray name = QFile::encodeName(fifo);
    ASSERT_EQ(::mkfifo(name.constData(), 0600), 0);
    RandomGenerator random(4);

    // The writer's failure on the FIFO. Should the writer wait instead, a reader here drains the
    // FIFO for another 10 s so that it returns and the test fails, not hangs; one that still
    // waits then ends the test program. The deadline tells a writer that waits from one that is
    // slow on a loaded machine, where it has taken over a second.
    const auto writeWithinTheDeadline = [&] {
        auto result = std::async(std::launch::async, [&] { return FailureOf(fifo, random); });
        if (result.wait_for(10s) != std::future_status::ready) {
            ADD_FAILURE() << "the writer waits on the FIFO";
            const int drain = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
            char sink[4096];
            const auto drainEnds = std::chrono::steady_clock::now() + 10s;
            while (result.wait_for(10ms) != std::future_status::ready) { // a step of the drain
                if (std::chrono::steady_clock::now() > drainEnds) {
                    std::fprintf(stderr, "the writer still waits on a drained FIFO\n");
                    std::_Exit(1); // the future's destructor would wait for it
                }
                (void)::read(drain, sink, sizeof sink);
            }
            ::close(drain);
        }
        return result.get();
    };

    // Without a reader the creation is refused.
    EXPECT_EQ(writeWithinTheDeadline(), Creation(fifo, ENXIO));
    EXPECT_EQ(random.state(), 4u);

    // A reader that never reads: once the pipe is full, the next write fails instead of waiting.
    const int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(writeWithinTheDeadline(), QStringLiteral("Stream write error"));
    ::close(reader);
}

TEST_F(BadBackupPath, RefusedLockRemovesTheNewFileAndKeepsAnOldOne)
{
    const QString old = path(QStringLiteral("old.brains"));
    Write(old, "an older backup");
    const QString fresh = path(QStringLiteral("new.brains"));
    RandomGenerator random(8);

    RefuseLocks = true;
    const QString onNew = FailureOf(fresh, random);
    const QString onOld = FailureOf(old, random);
    RefuseLocks = false;

    EXPECT_EQ(onNew, Creation(fresh, ENOLCK));
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(onOld, Creation(old, ENOLCK));
    EXPECT_EQ(Read(old), QByteArray("an older backup"));
    EXPECT_EQ(random.state(), 8u);
}
