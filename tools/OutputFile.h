#pragma once

// Where a verb writes its file: standard output, a regular file replaced as a whole, or a FIFO,
// device or socket written in place.

#include <filereplace/Replacement.h>

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace tool
{

// Writes bytes to path, taken as the bytes the user typed ("-" is standard output):
// - a regular file (also through symbolic links: their target is written) is replaced by a
//   complete new file, written beside it, flushed to the disk and renamed over it; the new file
//   keeps the old one's permissions (and owner where that may be set), so a failure at any step
//   leaves the old file as it was; a new file gets 0666 less the umask;
// - anything else (a FIFO, a device, a socket) is opened in place without O_CREAT or O_TRUNC and
//   without blocking: a FIFO that no process reads fails at once.
// Returns an empty text on success, else why it failed, in one line.
QByteArray writeOutput(const QByteArray &path, QByteArrayView bytes);

// A verb's output written piece by piece, for an output too large to build in memory first: the
// pieces go into a temporary file, which becomes the output only when commit() succeeds, as
// writeOutput() would make it. Until then the output is as it was, and a StagedOutput that goes
// without a commit leaves nothing behind, also when the process is killed: the temporary file
// has no name until commit() gives it one.
// - For a regular or new file, the temporary file lies in the same folder and is renamed over
//   it, with the old file's permissions (and owner where that may be set);
// - for standard output, a FIFO, a device or a socket, it lies in the temporary folder ($TMPDIR,
//   else /tmp) and commit() copies it into the output in place.
// Every call returns an empty text on success, else why it failed, in one line.
class StagedOutput
{
public:
    explicit StagedOutput(const QByteArray &path);
    ~StagedOutput();
    StagedOutput(const StagedOutput &) = delete;
    StagedOutput &operator=(const StagedOutput &) = delete;

    // Makes the temporary file.
    QByteArray open();
    // Appends bytes.
    QByteArray write(QByteArrayView bytes);
    // Writes bytes over what was written at offset (a header whose sizes are known at the end).
    QByteArray writeAt(std::uint64_t offset, QByteArrayView bytes);
    // Flushes the temporary file and makes it the output.
    QByteArray commit();

private:
    QByteArray path_;
    // Where the output goes: replaced by renaming, or written in place at the commit.
    filereplace::Destination destination_;
    filereplace::Replacement replacement_; // the new file, when the output is replaced
    int fd_ = -1;       // where the pieces go: the replacement's file, or a scratch file of our own
    int outputFd_ = -1; // a FIFO, device or socket opened in place at open()
};

// The one line a verb prints when it cannot write path: why, as the calls above return it.
QByteArray writeFailureMessage(const QByteArray &path, const QByteArray &why);

} // namespace tool
