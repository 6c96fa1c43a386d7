#pragma once

// What the backup file writer reports, for tests that give it bad paths.

#include "BackupFileWriter.h"
#include "Failure.h"
#include "SharedRandom.h"

#include <QString>

namespace testsupport
{

// The message of the failure that WriteBackupFile throws, or "" when it does not throw.
inline QString FailureOf(const QString &path, noggix::RandomGenerator &random)
{
    try {
        noggix::WriteBackupFile(path, random);
    } catch (const noggix::Failure &failure) {
        return failure.message();
    }
    return {};
}

} // namespace testsupport
