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
// BackupFileByte in a write request of its own. The file is closed on every way out.
// Throws noggix::Failure:
// - "Cannot create file "<absolute path>". <system error text>" when the file cannot be opened,
//   locked (another program holds the lock) or truncated; nothing is drawn and nothing changes;
// - "Stream write error" when a write stores nothing; the bytes before it stay in the file.
void WriteBackupFile(const QString &path, RandomGenerator &random);

// The system's text for errno value error, without trailing blanks, control characters and
// periods.
QString SystemErrorText(int error);

} // namespace noggix
