#pragma once

// The backup file: 150001 bytes of the letter "A", written one byte per write request.

#include <QString>

namespace noggix
{

class RandomGenerator;

// Size of every backup file, and the byte it is made of.
inline constexpr int BackupFileSize = 150001;
inline constexpr char BackupFileByte = 0x41;

// Creates or truncates the file at path (relative to the current folder) under an exclusive
// lock, then, BackupFileSize times, draws once from random with range 44 and writes
// BackupFileByte in a write request of its own. The file is closed on every way out, and
// nothing waits: a file whose writes would block (a FIFO, a device) fails instead.
// Throws noggix::Failure:
// - "Cannot create file "<absolute path>". <system error text>" when the file cannot be opened
//   (a FIFO without a reader: "No such device or address"), locked (another program holds the
//   lock, or the file system has no locks) or truncated; nothing is drawn, an existing file is
//   not changed, and a file that this call created is removed again;
// - "Stream write error" when a write stores nothing, also when it would have to wait; the bytes
//   before it stay in the file.
void WriteBackupFile(const QString &path, RandomGenerator &random);

// The system's text for errno value error, without trailing blanks, control characters and
// periods.
QString SystemErrorText(int error);

} // namespace noggix
