#pragma once

// Play strings rendered offline by the midigen tool beside the benchmark, in a process of its
// own: the sound of a note without any audio path.

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace bench
{

// Interleaved stereo samples at 44.1 kHz of `midigen render string TEXT`, with `settings` as
// its --set arguments ("Duration=20"); empty when the tool fails.
std::vector<std::int16_t> renderOffline(const QByteArray &text, const QStringList &settings);

// Milliseconds from the first sample that is not zero to the first at or above -30 dBFS: how
// long the note itself takes to rise to the level of first sound; -1 when it never does.
double riseMs(const std::vector<std::int16_t> &samples);

} // namespace bench
