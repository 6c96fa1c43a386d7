#pragma once

// Where the notes of a play string fall in time, at the sink and offline, against FluidSynth's
// own file renderer playing the same notes from a MIDI file.

#include "SoundBench.h"

namespace bench
{

// Prints placement-offline-* and placement-sink-* lines.
void measurePlacement(SoundBench &bench);

} // namespace bench
