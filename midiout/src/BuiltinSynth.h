#pragma once

// The built-in synthesizer: one process-wide engine with an audio driver for the desktop, device
// 0 (and -1) of Output::system().

namespace midiout
{

class SynthEngine;

// Starts building the engine on a thread of its own and returns at once; later calls do nothing.
// The engine lives until the process ends; its audio stops before static objects are destroyed.
void startBuiltinSynth();

// The engine, once built; waits for the start-up at most waitMs milliseconds, handling events
// meanwhile, and returns null if it is not done by then.
SynthEngine *builtinSynth(int waitMs);

} // namespace midiout
