#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
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

} // namespace

QByteArray writeOutput(const QByteArray &path, QByteArrayView bytes)
{
    if (path == "-") {
        const int error = writeAll(STDOUT_FILENO, bytes);
        return error == 0 ? QByteArray() : systemError(error);
    }
    filereplace::Destination destination;
    if (const int error = filereplace::findDestination(path, destination); error != 0)
        return systemError(error);
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

StagedOutput::StagedOutput(const QByteArray &path) : path_(path) {}

StagedOutput::~StagedOutput()
{
    if (fd_ >= 0 && !destination_.replace)
        ::close(fd_);
    if (outputFd_ >= 0)
        ::close(outputFd_);
}

QByteArray StagedOutput::open()
{
    if (path_ != "-") {
        if (const int error = filereplace::findDestination(path_, destination_); error != 0)
            return systemError(error);
        if (destination_.replace) {
            if (const int error = replacement_.create(destination_, ".midigen-"); error != 0)
                return "cannot create a file in " + filereplace::folderOf(destination_.file) +
                       ": " + systemError(error);
            fd_ = replacement_.fd();
            return {};
        }
        if (!S_ISREG(destination_.status.st_mode)) {
            // A FIFO without a reader fails now, not after the work.
            QByteArray why;
            outputFd_ = openInPlace(path_, destination_.status, why);
            if (outputFd_ < 0)
                return why;
        }
    }
    const QByteArray tmp = qgetenv("TMPDIR");
    const QByteArray folder = tmp.isEmpty() ? QByteArray("/tmp") : tmp;
    fd_ = filereplace::createScratchFile(folder, ".midigen-");
    if (fd_ < 0)
        return "cannot create a file in " + folder + ": " + systemError(errno);
    return {};
}

QByteArray StagedOutput::write(QByteArrayView bytes)
{
    const int error = writeAll(fd_, bytes);
    return error == 0 ? QByteArray() : systemError(error);
}

QByteArray StagedOutput::writeAt(std::uint64_t offset, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::pwrite(fd_, data, std::size_t(left), off_t(offset));
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
    if (destination_.replace) {
        fd_ = -1;
        const int error = replacement_.commit();
        return error == 0 ? QByteArray() : systemError(error);
    }
    // Copied into the output in place: a regular file only now, so that it is cut only once
    // everything is there.
    QByteArray why;
    int output = path_ == "-" ? STDOUT_FILENO : outputFd_;
    if (output < 0) {
        output = outputFd_ = openInPlace(path_, destination_.status, why);
        if (output < 0)
            return why;
    }
    QByteArray block(qsizetype(BlockBytes), Qt::Uninitialized);
    int error = 0;
    for (off_t offset = 0; error == 0;) {
        const ssize_t got = ::pread(fd_, block.data(), BlockBytes, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        error = writeAll(output, QByteArrayView(block.constData(), got));
        offset += got;
    }
    if (outputFd_ >= 0) {
        const int closed = closeFile(std::exchange(outputFd_, -1));
        if (error == 0)
            error = closed;
    }
    return error == 0 ? QByteArray() : systemError(error);
}

QByteArray writeFailureMessage(const QByteArray &path, const QByteArray &why)
{
    return "cannot write " + (path == "-" ? QByteArray("standard output") : path) + ": " + why;
}

} // namespace tool
