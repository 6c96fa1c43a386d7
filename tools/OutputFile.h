#pragma once

// Where a verb writes its file: standard output, a regular file replaced as a whole, or a FIFO,
// device or socket written in place.

#include <QByteArray>
#include <QByteArrayView>

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
QByteArray WriteOutput(const QByteArray &path, QByteArrayView bytes);

} // namespace tool
