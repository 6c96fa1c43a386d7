#pragma once

// Which private sound server a sound benchmark starts: PulseAudio, or PipeWire when
// NOGGIX_BENCH_SERVER=pipewire, so that scripts/bench measures both with the same programs.

#include "PrivateSoundServer.h"

#include <QtGlobal>

namespace bench
{

inline testsupport::PrivateSoundServer::Kind serverKind()
{
    return qgetenv("NOGGIX_BENCH_SERVER") == "pipewire"
               ? testsupport::PrivateSoundServer::Kind::PipeWire
               : testsupport::PrivateSoundServer::Kind::PulseAudio;
}

} // namespace bench
