#pragma once

// The graph's data thread: each cycle of our MIDI output node, into whose buffer the port's writer
// puts the stream's events at their frames, and the warm-up of a new link. Only that thread
// touches it after setPort(): no lock, no allocation, no Qt call, no blocking call.

#include "EngineCrossing.h"
#include "PipeWireApi.h"
#include "PortWriter.h"

#include <cstdint>

struct spa_io_position;

namespace midiout
{

class GraphCycle
{
public:
    GraphCycle(EngineCrossing &crossing, GraphCrossing &graph)
        : crossing_(crossing), graph_(graph), writer_(crossing)
    {
    }

    // The node's output port, before the graph's loop runs.
    void setPort(const PipeWireApi *pw, void *port)
    {
        pw_ = pw;
        port_ = port;
    }
    // One cycle of the graph at position: the stream's events due in it into the port's buffer.
    void run(const spa_io_position *position);

private:
    // A new link is ready once it has run its warm-up cycles on one clock and one quantum.
    void warmUp(std::uint32_t clock, std::uint32_t quantum);

    EngineCrossing &crossing_;
    GraphCrossing &graph_;
    PortWriter writer_;
    const PipeWireApi *pw_ = nullptr;
    void *port_ = nullptr;
    // Frames of the graph's clock, continued across a change of driver.
    std::uint32_t clockId_ = SPA_ID_INVALID;
    std::int64_t clockOffset_ = 0;
    std::uint64_t nextFrame_ = 0;
    std::uint32_t warmClock_ = SPA_ID_INVALID, warmQuantum_ = 0;
};

} // namespace midiout
