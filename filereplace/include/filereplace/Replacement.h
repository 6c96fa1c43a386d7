#pragma once

// A file replaced whole or not at all: the new content goes into a new file beside the old one,
// which is flushed to the disk and renamed over it once it is complete, with the old file's
// permissions and owner. A FIFO, a device or a socket cannot be replaced so: its bytes are
// written in place, which Destination tells the caller. Names are bytes, as the system takes
// them.

#include <QByteArray>
#include <QByteArrayView>

#include <sys/stat.h>

namespace filereplace
{

// Where the bytes written to a path go.
struct Destination {
    // True: `file` is replaced by a new file renamed over it; it is a regular file, or none yet.
    // False: `file` is the path itself, written in place: a FIFO, a device, a socket, or a
    // regular file that no name of its own leads to (one deleted meanwhile, or a name such as
    // /dev/stdout that leads to it through /proc).
    bool replace = false;
    // For a replacement, the path with the symbolic links of its last part followed, as open()
    // follows them: a link's target is the file replaced, and a link that points nowhere gives
    // the file that the replacement creates.
    QByteArray file;
    // Whether a file was there, and its status: type, permissions, owner.
    bool exists = false;
    struct stat status = {};
};

// The folder that path's file lies in, as a path that names it ("." for a bare name).
QByteArray folderOf(const QByteArray &path);

// Finds where the bytes written to path go. 0, or the errno of why they can go nowhere: the path
// cannot be looked up, a link cannot be read, or the links form a loop.
int findDestination(const QByteArray &path, Destination &destination);

// The same for a file that the caller holds open under path, with its status from fstat(): such
// a file exists. A link that cannot be followed leaves the file written in place.
Destination destinationOf(const QByteArray &path, const struct stat &status);

// The new file that takes the place of a destination's file once it is whole. It lies in the
// same folder, without a name where the file system allows it, so that nothing is left behind
// even when the process is killed; else under a hidden name, removed again with the object. It
// has the replaced file's permissions and owner (the owner where it may be set: only root may
// give a file away), and a new file 0666 less the umask, as any other program's new file.
class Replacement
{
public:
    Replacement() = default;
    // Removes the new file unless commit() has made it the destination's file.
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // Makes the new file for destination, whose `replace` must be true. namePrefix begins the
    // hidden name that the new file may need (".program-"). 0, or the errno.
    int create(const Destination &destination, QByteArrayView namePrefix);
    // The new file, open for reading and writing; -1 before create() and after commit().
    int fd() const { return fd_; }
    // Flushes the new file to the disk, closes it and renames it over the destination's file.
    // 0, or the errno; after a failure the destination's file is as it was.
    int commit();

private:
    QByteArray file_;   // the file replaced
    QByteArray prefix_; // of the hidden name
    int fd_ = -1;
    QByteArray named_; // the new file's name, while it has one
};

// A scratch file in folder, open for reading and writing, without a name: made without one where
// the file system allows it, else named (namePrefix begins the name) and unlinked at once. -1,
// with errno set, when none can be made.
int createScratchFile(const QByteArray &folder, QByteArrayView namePrefix);

} // namespace filereplace
