#pragma once

// The engine's edges, heard at the sink: a program's first request made at once after it
// created its component (each in a process of its own), the first request after the sound
// server restarted, and when a stream's end is signalled against its last note-off.

#include "SoundBench.h"

#include <QString>

namespace bench
{

// Each prints its "key value" lines (see bench_audio.cpp). firstRequest is the program that
// plays at once (first_request).
void measureFirstRequests(SoundBench &bench, const QString &firstRequest, int runs);
void measureFirstAfterRestart(SoundBench &bench, int rounds);
void measureStreamEnds(SoundBench &bench, int runs);

} // namespace bench
