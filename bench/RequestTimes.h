#pragma once

// How soon requests are heard at the sink, in the three states a request can find the output
// in, and how soon Stop() is no longer heard; with the gap count of the same requests beside
// FluidSynth's driver alone.

#include "SoundBench.h"

namespace bench
{

// Each part prints its "key value" lines (see bench_audio.cpp).
void measureAfterSilence(SoundBench &bench, int requests);
void measureOnRunningOutput(SoundBench &bench, int requests);
void measureInterrupting(SoundBench &bench, int requests);
void measureStop(SoundBench &bench, int requests);

} // namespace bench
