#pragma once

// The sound server killed in the middle of a jingle and started again: the stream ends, requests
// are refused while it is down, and the next request after the restart sounds.

#include "SoundBench.h"

namespace bench
{

// Prints server-kills, ended-when-killed, refused-while-down and sounded-after-restart.
void measureServerKills(SoundBench &bench, int rounds);

} // namespace bench
