#include "OutputFile.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool
{

namespace
{

constexpr std::size_t BlockBytes = 1 << 20;

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
        const ssize_t written =
            ::write(fd, data, std::size_t(std::min<qsizetype>(left, qsizetype(BlockBytes))));
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

// Where the output of path goes: replaced by renaming a new file over `file`, or written in
// place (`file` is then path itself); status is the existing file's, if any.
struct Destination {
    bool replace = false;
    QByteArray file;
    bool exists = false;
    struct stat status = {};
};

// Finds where path's output goes; an empty text, or why it cannot go anywhere.
QByteArray resolve(const QByteArray &path, Destination &destination)
{
    destination.exists = ::stat(path.constData(), &destination.status) == 0;
    if (!destination.exists && errno != ENOENT)
        return systemError(errno);
    destination.file = path;
    if (destination.exists && !S_ISREG(destination.status.st_mode))
        return {};
    int error = 0;
    const QByteArray target = followLinks(path, error);
    if (target.isEmpty())
        return systemError(error);
    if (destination.exists) {
        // A name such as /dev/stdout leads to the file through /proc; a file that was deleted
        // meanwhile has no name there to replace, and is written where it is.
        struct stat named;
        if (::stat(target.constData(), &named) != 0 || named.st_dev != destination.status.st_dev ||
            named.st_ino != destination.status.st_ino)
            return {};
    }
    destination.replace = true;
    destination.file = target;
    return {};
}

// Opens what path names (a FIFO, a device, a socket, or a regular file that no name of its own
// leads to) for writing, without creating anything; a regular file is cut, as a shell's
// redirection cuts it. The descriptor blocks, so that the bytes go at the reader's pace. -1 with
// why set when it cannot.
int openInPlace(const QByteArray &path, const struct stat &status, QByteArray &why)
{
    int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    // O_NONBLOCK makes a FIFO without a reader fail at once instead of waiting for one.
    flags |= S_ISREG(status.st_mode) ? O_TRUNC : O_NONBLOCK;
    const int fd = ::open(path.constData(), flags);
    if (fd < 0) {
        if (errno == ENXIO && S_ISFIFO(status.st_mode))
            why = "no process reads the FIFO";
        else if (errno == ENXIO && S_ISSOCK(status.st_mode))
            why = "a socket cannot be written as a file";
        else
            why = systemError(errno);
        return -1;
    }
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0 || ::fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) < 0) {
        why = systemError(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Closes fd; 0, or the errno of a failure that may have lost bytes.
int closeFile(int fd)
{
    return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

// A new name in folder for a temporary file, short enough whatever the target's length.
QByteArray temporaryName(const QByteArray &folder)
{
    return folder + "/.midigen-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

// A new file in folder for reading and writing, with 0666 less the umask as any other program's
// new file: without a name where the file system allows it, else under a new name, which named
// then holds. -1 with errno set when none can be made.
int makeTemporary(const QByteArray &folder, QByteArray &named)
{
    const int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
        return fd;
    // Created with O_EXCL rather than mkstemp(), which makes it 0600.
    for (int attempt = 0;; ++attempt) {
        named = temporaryName(folder);
        const int made = ::open(named.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (made >= 0 || errno != EEXIST || attempt == 100) {
            if (made < 0)
                named.clear();
            return made;
        }
    }
}

// Gives the unnamed file fd a new name in folder, which named then holds; 0, or the errno.
int giveName(int fd, const QByteArray &folder, QByteArray &named)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0;; ++attempt) {
        named = temporaryName(folder);
        int result =
            ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, named.constData(), AT_SYMLINK_FOLLOW);
        if (result != 0 && errno == ENOENT) // no /proc: the way that needs privileges
            result = ::linkat(fd, "", AT_FDCWD, named.constData(), AT_EMPTY_PATH);
        if (result == 0)
            return 0;
        const int error = errno;
        named.clear();
        if (error != EEXIST || attempt == 100)
            return error;
    }
}

} // namespace

QByteArray WriteOutput(const QByteArray &path, QByteArrayView bytes)
{
    if (path == "-") {
        const int error = writeAll(STDOUT_FILENO, bytes);
        return error == 0 ? QByteArray() : systemError(error);
    }
    Destination destination;
    if (const QByteArray why = resolve(path, destination); !why.isEmpty())
        return why;
    if (!destination.replace) {
        QByteArray why;
        const int fd = openInPlace(path, destination.status, why);
        if (fd < 0)
            return why;
        int error = writeAll(fd, bytes);
        if (const int closed = closeFile(fd); error == 0)
            error = closed;
        return error == 0 ? QByteArray() : systemError(error);
    }
    StagedOutput staged(path);
    QByteArray why = staged.open();
    if (why.isEmpty())
        why = staged.write(bytes);
    if (why.isEmpty())
        why = staged.commit();
    return why;
}

StagedOutput::StagedOutput(const QByteArray &path) : m_path(path) {}

StagedOutput::~StagedOutput()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_outputFd >= 0)
        ::close(m_outputFd);
    if (!m_named.isEmpty())
        ::unlink(m_named.constData());
}

QByteArray StagedOutput::open()
{
    QByteArray folder;
    if (m_path == "-") {
        m_outputFd = -1;
    } else {
        Destination destination;
        if (const QByteArray why = resolve(m_path, destination); !why.isEmpty())
            return why;
        m_replace = destination.replace;
        m_file = destination.file;
        m_existed = destination.exists;
        m_mode = destination.status.st_mode;
        m_uid = destination.status.st_uid;
        m_gid = destination.status.st_gid;
        if (m_replace) {
            folder = folderOf(m_file);
        } else if (!S_ISREG(m_mode)) {
            // A FIFO without a reader fails now, not after the work.
            QByteArray why;
            m_outputFd = openInPlace(m_path, destination.status, why);
            if (m_outputFd < 0)
                return why;
        }
    }
    if (!m_replace) {
        const QByteArray tmp = qgetenv("TMPDIR");
        folder = tmp.isEmpty() ? QByteArray("/tmp") : tmp;
    }
    m_fd = makeTemporary(folder, m_named);
    if (m_fd < 0)
        return "cannot create a file in " + folder + ": " + systemError(errno);
    if (!m_replace && !m_named.isEmpty()) {
        // A scratch file only: it needs no name once open.
        ::unlink(m_named.constData());
        m_named.clear();
    }
    if (m_replace && m_existed) {
        // The owner first: changing it clears the set-user-ID bits that fchmod() then restores.
        // Only root may give a file away; anyone else's copy is theirs, as with any editor.
        if (::fchown(m_fd, m_uid, m_gid) != 0 && errno != EPERM)
            return systemError(errno);
        if (::fchmod(m_fd, m_mode & 07777) != 0)
            return systemError(errno);
    }
    return {};
}

QByteArray StagedOutput::write(QByteArrayView bytes)
{
    const int error = writeAll(m_fd, bytes);
    return error == 0 ? QByteArray() : systemError(error);
}

QByteArray StagedOutput::writeAt(std::uint64_t offset, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::pwrite(m_fd, data, std::size_t(left), off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return systemError(written < 0 ? errno : EIO);
        data += written;
        left -= written;
        offset += std::uint64_t(written);
    }
    return {};
}

QByteArray StagedOutput::commit()
{
    if (m_replace) {
        if (::fsync(m_fd) != 0)
            return systemError(errno);
        if (m_named.isEmpty()) {
            if (const int error = giveName(m_fd, folderOf(m_file), m_named); error != 0)
                return systemError(error);
        }
        const int fd = std::exchange(m_fd, -1);
        if (const int error = closeFile(fd); error != 0)
            return systemError(error);
        if (::rename(m_named.constData(), m_file.constData()) != 0)
            return systemError(errno);
        m_named.clear();
        return {};
    }
    // Copied into the output in place: a regular file only now, so that it is cut only once
    // everything is there.
    QByteArray why;
    int output = m_path == "-" ? STDOUT_FILENO : m_outputFd;
    if (output < 0) {
        struct stat status = {};
        status.st_mode = m_mode;
        output = m_outputFd = openInPlace(m_path, status, why);
        if (output < 0)
            return why;
    }
    QByteArray block(qsizetype(BlockBytes), Qt::Uninitialized);
    int error = 0;
    for (off_t offset = 0; error == 0;) {
        const ssize_t got = ::pread(m_fd, block.data(), BlockBytes, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        error = writeAll(output, QByteArrayView(block.constData(), got));
        offset += got;
    }
    if (m_outputFd >= 0) {
        const int closed = closeFile(std::exchange(m_outputFd, -1));
        if (error == 0)
            error = closed;
    }
    return error == 0 ? QByteArray() : systemError(error);
}

QByteArray WriteFailureMessage(const QByteArray &path, const QByteArray &why)
{
    return "cannot write " + (path == "-" ? QByteArray("standard output") : path) + ": " + why;
}

} // namespace tool
