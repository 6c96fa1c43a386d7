// Which way out the engine plays through: the one place that chooses.

#include "AudioSink.h"

namespace midiout
{

std::unique_ptr<AudioSink> OpenDesktopSink(const SinkClient &client, const char *name,
                                           QString *error)
{
    // PipeWire first, natively: its PulseAudio service would add a bridge and its queue. A
    // refused connection costs microseconds, so a PulseAudio desktop loses nothing by the try.
    QString pipeWire;
    if (auto sink = OpenPipeWireSink(client, name, &pipeWire))
        return sink;
    QString pulse;
    if (auto sink = OpenPulseSink(client, name, &pulse))
        return sink;
    *error = QStringLiteral("%1; %2").arg(pipeWire, pulse);
    return nullptr;
}

} // namespace midiout
