#pragma once

// The output-owner rule: one live component plays on an output. The component that last opened
// a stream on an output owns it until it is destroyed; while it lives, every other component's
// requests on that output are refused. Process-wide; any thread.

#include <QtGlobal>

namespace midiout
{
class Output;
} // namespace midiout

namespace midigen
{

// Whether the component numbered instance may play on output: nobody owns it, or it does.
bool mayPlayOn(const midiout::Output &output, quint32 instance);
// The component numbered instance has opened a stream on output and owns it.
void takeOutput(const midiout::Output &output, quint32 instance);
// The component numbered instance is gone: the outputs it owned are free.
void releaseOutputs(quint32 instance);

} // namespace midigen
