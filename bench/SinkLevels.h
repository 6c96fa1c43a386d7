#pragma once

// What the sound benchmarks read in a recording of the sink: levels against thresholds in dBFS,
// and the statistics they print.

#include "MonitorRecorder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench
{

// Sample magnitudes at or above these lie above -30 dBFS (first sound) and -60 dBFS (still
// audible after a stop): 32768 * 10^(-30/20) and 32768 * 10^(-60/20).
constexpr int Above30dBFS = 1037;
constexpr int Above60dBFS = 33;

// The larger magnitude of the two channels of frame n.
int levelAt(const MonitorRecorder &recorder, std::size_t n);
// First frame in [from, to) whose level reaches `level`; `to` when there is none.
std::size_t firstAtLeast(const MonitorRecorder &recorder, std::size_t from, std::size_t to,
                         int level);
// First frame in [from, to) from which no frame up to `to` reaches `level`.
std::size_t quietFrom(const MonitorRecorder &recorder, std::size_t from, std::size_t to, int level);
// The attacks heard in [from, to): where the level reaches -25 dBFS within 3 ms of 10 ms at or
// below -33 dBFS, at least 60 ms after the attack before; the sink is taken to be quiet before
// `from`.
std::vector<std::size_t> attacksIn(const MonitorRecorder &recorder, std::size_t from,
                                   std::size_t to);
// The loudest level in [from, to).
int peakIn(const MonitorRecorder &recorder, std::size_t from, std::size_t to);

// Interleaved stereo samples of frames [from, to).
std::vector<std::int16_t> samplesOf(const MonitorRecorder &recorder, std::size_t from,
                                    std::size_t to);

// Prints "KEY-median", "KEY-p90", "KEY-min", "KEY-max" and "KEY-count" lines (the 90th
// percentile by nearest rank); "KEY-median n/a" alone when there are no values.
void printStats(const char *key, std::vector<double> values);

} // namespace bench
