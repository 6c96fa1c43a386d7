#include "OutputFile.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool
{

namespace
{

QByteArray systemError(int error)
{
    return QByteArray(std::strerror(error));
}

// The folder part of path, as a path that names it.
QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// Writes every byte to fd; 0, or the errno of the failure.
int writeAll(int fd, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(std::min<qsizetype>(left, 1 << 20)));
        if (written >= 0) {
            data += written;
            left -= written;
        } else if (errno == EAGAIN) {
            // Standard output inherited in non-blocking mode: wait until the reader takes more.
            pollfd ready{fd, POLLOUT, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
                return errno;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// The file that path names once the symbolic links of its last part are followed, as open()
// follows them (a link that points nowhere gives the path of the file it names). Empty with
// error set when a link cannot be read or the links form a loop.
QByteArray followLinks(QByteArray path, int &error)
{
    for (int hops = 0; hops <= 40; ++hops) { // the kernel's own limit
        struct stat status;
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = ::readlink(path.constData(), target.data(), std::size_t(PATH_MAX));
        if (length < 0) {
            error = errno;
            return {};
        }
        target.truncate(length);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    error = ELOOP;
    return {};
}

// Writes bytes into what path names (a FIFO, a device, a socket, or a regular file that no name
// of its own leads to), without creating or cutting anything first.
QByteArray writeInPlace(const QByteArray &path, const struct stat &status, QByteArrayView bytes)
{
    int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    // A regular file is cut to the new length, as a shell's redirection does; O_NONBLOCK makes
    // a FIFO without a reader fail at once instead of waiting for one.
    flags |= S_ISREG(status.st_mode) ? O_TRUNC : O_NONBLOCK;
    const int fd = ::open(path.constData(), flags);
    if (fd < 0) {
        if (errno == ENXIO && S_ISFIFO(status.st_mode))
            return "no process reads the FIFO";
        if (errno == ENXIO && S_ISSOCK(status.st_mode))
            return "a socket cannot be written as a file";
        return systemError(errno);
    }
    // The bytes then go at the reader's pace.
    const int mode = ::fcntl(fd, F_GETFL);
    int error = mode < 0 || ::fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) < 0 ? errno : 0;
    if (error == 0)
        error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error == 0 ? QByteArray() : systemError(error);
}

// Replaces target (or creates it when old is null) by a complete file of bytes: a new file in
// the same folder, with old's owner and permissions, flushed to the disk, then renamed over it.
QByteArray replaceFile(const QByteArray &target, const struct stat *old, QByteArrayView bytes)
{
    // Created here with O_EXCL rather than mkstemp(), so that a new file gets 0666 less the
    // umask as any other program's would; the short name fits whatever the target's length.
    const QByteArray folder = folderOf(target);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary =
            folder + "/.midigen-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100))
            return "cannot create a file in " + folder + ": " + systemError(errno);
    }
    int error = 0;
    if (old != nullptr) {
        // The owner first: changing it clears the set-user-ID bits that fchmod() then restores.
        // Only root may give a file away; anyone else's copy is theirs, as with any editor.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0 && errno != EPERM)
            error = errno;
        if (error == 0 && ::fchmod(fd, old->st_mode & 07777) != 0)
            error = errno;
    }
    if (error == 0)
        error = writeAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return systemError(error);
    }
    return {};
}

} // namespace

QByteArray WriteOutput(const QByteArray &path, QByteArrayView bytes)
{
    if (path == "-") {
        const int error = writeAll(STDOUT_FILENO, bytes);
        return error == 0 ? QByteArray() : systemError(error);
    }
    struct stat status;
    const bool exists = ::stat(path.constData(), &status) == 0;
    if (!exists && errno != ENOENT)
        return systemError(errno);
    if (exists && !S_ISREG(status.st_mode))
        return writeInPlace(path, status, bytes);
    int error = 0;
    const QByteArray target = followLinks(path, error);
    if (target.isEmpty())
        return systemError(error);
    if (exists) {
        // A name such as /dev/stdout leads to the file through /proc; a file that was deleted
        // meanwhile has no name there to replace, and is written where it is.
        struct stat named;
        if (::stat(target.constData(), &named) != 0 || named.st_dev != status.st_dev ||
            named.st_ino != status.st_ino)
            return writeInPlace(path, status, bytes);
    }
    return replaceFile(target, exists ? &status : nullptr, bytes);
}

} // namespace tool
