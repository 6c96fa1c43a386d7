#pragma once

// The backup file: 150001 bytes of the letter "A", written one byte per write request.

#include <QString>

namespace noggix
{

class RandomGenerator;

// Size of every backup file, and the byte it is made of.
inline constexpr int BackupFileSize = 150001;
inline constexpr char BackupFileByte = 0x41;

// Writes the backup file at path (its text as pathText makes it, relative to the current
// folder): BackupFileSize times, draws once from random with range 44 and writes BackupFileByte
// in a write request of its own. The file at path is opened (or created) first and held under
// an exclusive lock throughout. A regular file is replaced whole (filereplace::Replacement): the
// bytes go to a new file beside it, which is flushed to the disk and renamed over it with the
// old file's permissions (and owner, where that may be set); a symbolic link's target is the
// file replaced. Anything else (a FIFO, a device), and a regular file that no name of its own
// leads to, is written in place, and nothing waits: a write that would block fails instead.
// Nothing stays open on any way out.
// Throws noggix::Failure:
// - "Cannot create file "<absolute path>". <system error text>" when the file cannot be opened
//   (a FIFO without a reader: "No such device or address"), locked (another program holds the
//   lock, or the file system has no locks), or no file can be made beside it; nothing is drawn;
// - "Stream write error" when a write stores nothing (also when it would have to wait), or the
//   new file cannot be flushed or renamed; the draws made so far stay made.
// On either failure an existing regular file keeps every byte, and nothing is left beside it: a
// file that this call created is removed again.
void WriteBackupFile(const QString &path, RandomGenerator &random);

// The system's text for errno value error, without trailing blanks, control characters and
// periods.
QString systemErrorText(int error);

} // namespace noggix
