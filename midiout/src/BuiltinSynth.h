#pragma once

// The built-in synthesizer: one process-wide engine with an audio driver for the desktop, device
// 0 (and -1) of Output::system().

namespace midiout
{

class SynthEngine;

// StartBuiltinSynth() is declared with Output::system() in <midiout/Output.h>.

// The engine, once built; waits for the start-up at most waitMs milliseconds, null if it is not
// done by then.
SynthEngine *WaitForBuiltinSynth(int waitMs);

} // namespace midiout
