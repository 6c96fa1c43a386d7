#include "BackupFileWriter.h"

#include "Failure.h"
#include "PathText.h"
#include "SharedRandom.h"

#include <QDir>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace noggix
{
namespace
{

// Closes the descriptor when the writer leaves, whichever way it leaves.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// path made absolute against the current folder, for the user to read.
QString AbsolutePath(const QString &path)
{
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    QByteArray folder(PATH_MAX, Qt::Uninitialized);
    const QString current = ::getcwd(folder.data(), std::size_t(folder.size())) != nullptr
                                ? PathText(folder.constData())
                                : QDir::currentPath();
    return QDir::cleanPath(current + u'/' + path);
}

[[noreturn]] void ThrowCreationFailure(const QString &path, int error)
{
    throw Failure(QStringLiteral("Cannot create file \"%1\". %2")
                      .arg(PathDisplay(AbsolutePath(path)), SystemErrorText(error)));
}

[[noreturn]] void ThrowWriteFailure()
{
    throw Failure(QStringLiteral("Stream write error"));
}

// Opens path for reading and writing, taking note of whether this open made the file: an
// existing file is opened as it is, a missing one is created exclusively, so that a file made
// by someone else between the two attempts is never taken for our own. The open does not block
// (a FIFO without a reader is refused with ENXIO) and the descriptor stays non-blocking, so a
// write that cannot complete at once fails instead of hanging the window.
int OpenOrCreate(const QByteArray &name, bool &created)
{
    constexpr int flags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    for (;;) {
        int fd = ::open(name.constData(), flags);
        if (fd >= 0 || errno != ENOENT) {
            created = false;
            struct stat info = {};
            if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) {
                // Opened for reading too, the writer would be the FIFO's own reader; opened
                // for writing alone, it needs another one and is refused without.
                ::close(fd);
                fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
            }
            return fd;
        }
        fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
            created = fd >= 0;
            return fd;
        }
        // Made by someone else in between: open it as an existing file.
    }
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the file at name when it is still the one that fd refers to, which this writer made.
void RemoveCreated(const QByteArray &name, int fd)
{
    struct stat opened = {};
    struct stat named = {};
    if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 &&
        SameFile(opened, named))
        ::unlink(name.constData());
}

// The file at path, open and under the exclusive lock, neither cut nor written yet, so that a
// file locked by another writer is left untouched. A file that the open made is removed again
// when this goes, unless its name has come to lead to another file (the one renamed over it).
struct LockedFile {
    QString path;
    QByteArray name;
    bool created = false;
    FileDescriptor fd;
    struct stat info = {};

    explicit LockedFile(const QString &text)
        : path(text), name(PathBytes(text)), fd(OpenOrCreate(name, created))
    {
        if (fd.get() < 0)
            ThrowCreationFailure(path, errno);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &info) != 0) {
            const int error = errno;
            removeCreated();
            ThrowCreationFailure(path, error);
        }
    }
    ~LockedFile() { removeCreated(); }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    void removeCreated()
    {
        if (created)
            RemoveCreated(name, fd.get());
    }

    // The name of the directory entry that the file is, with every symbolic link followed, or
    // empty when none leads to it (a file deleted meanwhile, a name such as /proc/self/fd/3).
    QByteArray entryName() const
    {
        const std::unique_ptr<char, decltype(&std::free)> real(
            ::realpath(name.constData(), nullptr), &std::free);
        struct stat named = {};
        if (!real || ::stat(real.get(), &named) != 0 || !SameFile(named, info))
            return {};
        return real.get();
    }
};

// Writes the filler to fd, drawing once per byte before its write.
void WriteFiller(int fd, RandomGenerator &random)
{
    for (int i = 0; i < BackupFileSize; ++i) {
        random.draw(44);
        ssize_t written;
        do
            written = ::write(fd, &BackupFileByte, 1);
        while (written < 0 && errno == EINTR);
        if (written < 1)
            ThrowWriteFailure();
    }
}

// The new file beside the one it replaces, with that file's owner and permissions; removed
// again unless commit() has renamed it over the target.
class Replacement
{
public:
    Replacement(const LockedFile &target, const QByteArray &entry)
        : m_target(entry), m_name(entry.left(entry.lastIndexOf('/') + 1) + ".noggix-XXXXXX"),
          m_fd(::mkostemp(m_name.data(), O_CLOEXEC))
    {
        if (m_fd.get() < 0)
            ThrowCreationFailure(target.path, errno);
        m_made = true;
        // The owner first: changing it clears the set-user-ID bits that fchmod() then restores.
        // Only root may give a file away; anyone else's copy is theirs.
        const struct stat &old = target.info;
        if ((::fchown(m_fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) ||
            ::fchmod(m_fd.get(), old.st_mode & 07777) != 0) {
            const int error = errno;
            ::unlink(m_name.constData());
            m_made = false;
            ThrowCreationFailure(target.path, error);
        }
    }
    ~Replacement()
    {
        if (m_made)
            ::unlink(m_name.constData());
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    int fd() const { return m_fd.get(); }

    // Flushes the new file to the disk and renames it over the target.
    void commit()
    {
        const int fd = m_fd.release();
        const bool flushed = ::fsync(fd) == 0;
        if (::close(fd) != 0 && errno != EINTR)
            ThrowWriteFailure();
        if (!flushed || ::rename(m_name.constData(), m_target.constData()) != 0)
            ThrowWriteFailure();
        m_made = false;
    }

private:
    QByteArray m_target;
    QByteArray m_name;
    FileDescriptor m_fd;
    bool m_made = false;
};

} // namespace

QString SystemErrorText(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1].unicode() <= u' ' || text[end - 1] == u'.'))
        --end;
    text.truncate(end);
    return text;
}

void WriteBackupFile(const QString &path, RandomGenerator &random)
{
    LockedFile target(path);
    if (!S_ISREG(target.info.st_mode)) {
        WriteFiller(target.fd.get(), random);
        return;
    }
    const QByteArray entry = target.entryName();
    if (entry.isEmpty()) {
        // No name to put a new file under: the file is cut and written where it is.
        if (::ftruncate(target.fd.get(), 0) != 0)
            ThrowCreationFailure(path, errno);
        WriteFiller(target.fd.get(), random);
        return;
    }
    Replacement replacement(target, entry);
    WriteFiller(replacement.fd(), random);
    replacement.commit();
}

} // namespace noggix
