#pragma once

// Starting a private sound server inside a GoogleTest test. Where the server's programs are not
// installed, the test is skipped on a developer's machine; under CI (CI=true), where a skip
// would count as a pass, it fails. Installed programs that do not bring the server up within
// 10 s fail the test anywhere.

#include "PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace testsupport
{

// Whether this run is CI's: CI=true (or 1) in the environment.
inline bool underCi()
{
    const char *ci = std::getenv("CI");
    return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

// "pulseaudio is not installed", or what else is missing for a server of this kind.
inline std::string notInstalled(PrivateSoundServer::Kind kind)
{
    const QStringList missing = PrivateSoundServer::missingPrograms(kind);
    return missing.join(QStringLiteral(", ")).toStdString() +
           (missing.size() == 1 ? " is" : " are") + " not installed";
}

} // namespace testsupport

// Starts `server` (a testsupport::PrivateSoundServer) for the running test, in its body or its
// SetUp(); returns from there when the test is skipped or has failed.
#define START_SOUND_SERVER_OR_SKIP(server)                                                         \
    do {                                                                                           \
        if (!testsupport::PrivateSoundServer::installed((server).kind())) {                        \
            if (!testsupport::underCi())                                                           \
                GTEST_SKIP() << testsupport::notInstalled((server).kind());                        \
            FAIL() << testsupport::notInstalled((server).kind())                                   \
                   << ": under CI a test that needs the sound server fails instead of skipping";   \
        }                                                                                          \
        ASSERT_TRUE((server).start())                                                              \
            << "the private sound server did not come up: it ended, or was not ready in 10 s";     \
    } while (false)
