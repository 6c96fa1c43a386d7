#include "BackupFileWriter.h"

#include "Failure.h"
#include "SharedRandom.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
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
    explicit FileDescriptor(int fd) : m_fd(fd) {}
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

[[noreturn]] void ThrowCreationFailure(const QString &path, int error)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    throw Failure(
        QStringLiteral("Cannot create file \"%1\". %2").arg(absolute, SystemErrorText(error)));
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

// Removes the file at name when it is still the one that fd refers to, which this writer made.
void RemoveCreated(const QByteArray &name, int fd)
{
    struct stat opened = {};
    struct stat named = {};
    if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
        ::unlink(name.constData());
}

// Opens or creates path, takes the exclusive lock and only then cuts the file to zero length,
// so that a file locked by another writer is left untouched. Any failure after the open closes
// the file and removes it again when the open made it; an existing file is not changed.
int CreateLocked(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    bool created = false;
    const int fd = OpenOrCreate(name, created);
    if (fd < 0)
        ThrowCreationFailure(path, errno);
    FileDescriptor guard(fd);

    const auto fail = [&](int error) {
        if (created)
            RemoveCreated(name, fd);
        ThrowCreationFailure(path, error);
    };

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(errno);

    // Devices such as /dev/null cannot be cut and need not be.
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        fail(errno);
    if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0)
        fail(errno);

    return guard.release();
}

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
    const FileDescriptor file(CreateLocked(path));
    for (int i = 0; i < BackupFileSize; ++i) {
        random.draw(44);
        ssize_t written;
        do
            written = ::write(file.get(), &BackupFileByte, 1);
        while (written < 0 && errno == EINTR);
        if (written < 1)
            throw Failure(QStringLiteral("Stream write error"));
    }
}

} // namespace noggix
