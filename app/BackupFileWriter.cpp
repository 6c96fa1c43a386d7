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

// Opens path for reading and writing, creating it when absent, takes the exclusive lock and only
// then cuts the file to zero length, so that a file locked by another writer is left untouched.
int CreateLocked(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        ThrowCreationFailure(path, errno);
    FileDescriptor guard(fd);

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        ThrowCreationFailure(path, errno);

    // Devices such as /dev/null cannot be cut and need not be.
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        ThrowCreationFailure(path, errno);
    if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0)
        ThrowCreationFailure(path, errno);

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
