#include "BackupFileWriter.h"

#include "Failure.h"
#include "PathText.h"
#include "SharedRandom.h"

#include <filereplace/Replacement.h>

#include <QDir>

#include <cerrno>
#include <climits>
#include <cstring>

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
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// path made absolute against the current folder, for the user to read.
QString absolutePath(const QString &path)
{
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    QByteArray folder(PATH_MAX, Qt::Uninitialized);
    const QString current = ::getcwd(folder.data(), std::size_t(folder.size())) != nullptr
                                ? pathText(folder.constData())
                                : QDir::currentPath();
    return QDir::cleanPath(current + u'/' + path);
}

[[noreturn]] void throwCreationFailure(const QString &path, int error)
{
    throw Failure(QStringLiteral("Cannot create file \"%1\". %2")
                      .arg(pathDisplay(absolutePath(path)), systemErrorText(error)));
}

[[noreturn]] void throwWriteFailure()
{
    throw Failure(QStringLiteral("Stream write error"));
}

// Opens path for reading and writing, taking note of whether this open made the file: an
// existing file is opened as it is, a missing one is created exclusively, so that a file made
// by someone else between the two attempts is never taken for our own. The open does not block
// (a FIFO without a reader is refused with ENXIO) and the descriptor stays non-blocking, so a
// write that cannot complete at once fails instead of hanging the window.
int openOrCreate(const QByteArray &name, bool &created)
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

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the file at name when it is still the one that fd refers to, which this writer made.
void removeCreated(const QByteArray &name, int fd)
{
    struct stat opened = {};
    struct stat named = {};
    if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 &&
        sameFile(opened, named))
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
        : path(text), name(pathBytes(text)), fd(openOrCreate(name, created))
    {
        if (fd.get() < 0)
            throwCreationFailure(path, errno);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &info) != 0) {
            const int error = errno;
            removeIfCreated();
            throwCreationFailure(path, error);
        }
    }
    ~LockedFile() { removeIfCreated(); }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    void removeIfCreated()
    {
        if (created)
            removeCreated(name, fd.get());
    }
};

// Writes the filler to fd, drawing once per byte before its write.
void writeFiller(int fd, RandomGenerator &random)
{
    for (int i = 0; i < BackupFileSize; ++i) {
        random.draw(44);
        ssize_t written;
        do
            written = ::write(fd, &BackupFileByte, 1);
        while (written < 0 && errno == EINTR);
        if (written < 1)
            throwWriteFailure();
    }
}

} // namespace

QString systemErrorText(int error)
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
    const filereplace::Destination destination =
        filereplace::destinationOf(target.name, target.info);
    if (!destination.replace) {
        // A FIFO or a device is written where it is, and so is a regular file that no name of
        // its own leads to, cut first.
        if (S_ISREG(target.info.st_mode) && ::ftruncate(target.fd.get(), 0) != 0)
            throwCreationFailure(path, errno);
        writeFiller(target.fd.get(), random);
        return;
    }
    filereplace::Replacement replacement;
    if (const int error = replacement.create(destination, ".noggix-"); error != 0)
        throwCreationFailure(path, error);
    writeFiller(replacement.fd(), random);
    if (replacement.commit() != 0)
        throwWriteFailure();
}

} // namespace noggix
