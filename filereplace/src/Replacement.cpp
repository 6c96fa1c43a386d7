#include <filereplace/Replacement.h>

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace filereplace
{

namespace
{

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

// Where the bytes for the existing file path (whose status destination holds) go; 0, or the
// errno of a link that cannot be followed.
int placeExisting(const QByteArray &path, Destination &destination)
{
    destination.exists = true;
    destination.replace = false;
    destination.file = path;
    if (!S_ISREG(destination.status.st_mode))
        return 0;
    int error = 0;
    const QByteArray target = followLinks(path, error);
    if (target.isEmpty())
        return error;
    // A name such as /dev/stdout leads to the file through /proc; a file that was deleted
    // meanwhile has no name there to replace, and is written where it is.
    struct stat named;
    if (::stat(target.constData(), &named) != 0 || named.st_dev != destination.status.st_dev ||
        named.st_ino != destination.status.st_ino)
        return 0;
    destination.replace = true;
    destination.file = target;
    return 0;
}

// A new name in folder for a hidden file, short enough whatever the target's length.
QByteArray hiddenName(const QByteArray &folder, const QByteArray &prefix)
{
    return folder + '/' + prefix + QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

// A new file in folder for reading and writing, 0666 less the umask as any other program's new
// file: without a name where the file system allows it, else under a new name, which named then
// holds. -1 with errno set when none can be made.
int makeFile(const QByteArray &folder, const QByteArray &prefix, QByteArray &named)
{
    const int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
        return fd;
    // Created with O_EXCL rather than mkstemp(), which makes it 0600.
    for (int attempt = 0;; ++attempt) {
        named = hiddenName(folder, prefix);
        const int made = ::open(named.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (made >= 0 || errno != EEXIST || attempt == 100) {
            if (made < 0)
                named.clear();
            return made;
        }
    }
}

// Gives the unnamed file fd a new name in folder, which named then holds; 0, or the errno.
int giveName(int fd, const QByteArray &folder, const QByteArray &prefix, QByteArray &named)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0;; ++attempt) {
        named = hiddenName(folder, prefix);
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

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

int findDestination(const QByteArray &path, Destination &destination)
{
    destination = Destination();
    if (::stat(path.constData(), &destination.status) == 0)
        return placeExisting(path, destination);
    if (errno != ENOENT)
        return errno;
    destination.status = {};
    int error = 0;
    destination.file = followLinks(path, error);
    if (destination.file.isEmpty())
        return error;
    destination.replace = true;
    return 0;
}

Destination destinationOf(const QByteArray &path, const struct stat &status)
{
    Destination destination;
    destination.status = status;
    if (placeExisting(path, destination) != 0) {
        destination.replace = false;
        destination.file = path;
    }
    return destination;
}

Replacement::~Replacement()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!named_.isEmpty())
        ::unlink(named_.constData());
}

int Replacement::create(const Destination &destination, QByteArrayView namePrefix)
{
    file_ = destination.file;
    prefix_ = namePrefix.toByteArray();
    fd_ = makeFile(folderOf(file_), prefix_, named_);
    if (fd_ < 0)
        return errno;
    if (destination.exists) {
        // The owner first: changing it clears the set-user-ID bits that fchmod() then restores.
        // Only root may give a file away; anyone else's copy is theirs, as with any editor.
        const struct stat &old = destination.status;
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0 && errno != EPERM)
            return errno;
        if (::fchmod(fd_, old.st_mode & 07777) != 0)
            return errno;
    }
    return 0;
}

int Replacement::commit()
{
    if (::fsync(fd_) != 0)
        return errno;
    if (named_.isEmpty()) {
        if (const int error = giveName(fd_, folderOf(file_), prefix_, named_); error != 0)
            return error;
    }
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR)
        return errno;
    if (::rename(named_.constData(), file_.constData()) != 0)
        return errno;
    named_.clear();
    return 0;
}

int createScratchFile(const QByteArray &folder, QByteArrayView namePrefix)
{
    QByteArray named;
    const int fd = makeFile(folder, namePrefix.toByteArray(), named);
    if (fd >= 0 && !named.isEmpty())
        ::unlink(named.constData());
    return fd;
}

} // namespace filereplace
