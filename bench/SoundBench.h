#pragma once

// What every part of bench_audio works with: the private sound server, the recorder of its null
// sink, and a tone generator on the machine's own output (the public API, as a program uses it).

#include "EventWait.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"

#include <midigen/MidiGen.h>

namespace bench
{

struct SoundBench {
    testsupport::PrivateSoundServer &server;
    MonitorRecorder &recorder;
    TMidiGen &generator;

    // A null sink without a client that asks for a short latency sleeps up to 2 s and holds a
    // new stream's first write back until it wakes; the recorder asks for one, and once its data
    // flows the sink runs in short blocks. Waits for a tenth of a second of recorded frames.
    void awake()
    {
        const std::size_t from = recorder.frames();
        pumpUntil([&] { return recorder.frames() > from + MonitorRecorder::Rate / 10; }, 3000);
    }
    // Waits up to ms for the generator's stream to end; true when it has.
    bool waitEnd(int ms = 5000)
    {
        return pumpUntil([&] { return !generator.IsPlaying(); }, ms);
    }
};

} // namespace bench
