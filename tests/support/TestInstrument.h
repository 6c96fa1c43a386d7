#pragma once

// A MIDI instrument on the PipeWire graph, for tests and benchmarks: a filter node of its own
// (on its own connection, as another program's would be) with one MIDI input port that records
// every event it receives with the graph frame it was written at and the CLOCK_MONOTONIC time
// of that frame. Its port is named "<node>:input".

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport
{

class TestInstrument
{
public:
    struct Event {
        std::uint64_t frame = 0;              // the graph's frame of the event
        double time = 0;                      // CLOCK_MONOTONIC of that frame, in seconds
        double rate = 0;                      // the graph's rate then
        std::uint32_t clock = 0, quantum = 0; // the driver's clock and the cycle's frames
        QByteArray bytes;                     // the MIDI message
    };

    // Connects to the PipeWire daemon of this process's environment and makes the node;
    // ready() tells when its port is on the graph.
    explicit TestInstrument(const QString &nodeName);
    ~TestInstrument(); // the node leaves the graph
    TestInstrument(const TestInstrument &) = delete;
    TestInstrument &operator=(const TestInstrument &) = delete;

    // Whether the connection and the node were made.
    bool connected() const;
    // The port's name as the graph's link tool gives it.
    QString portName() const { return nodeName_ + QStringLiteral(":input"); }
    // What it has received so far.
    std::vector<Event> events() const;
    // Graph cycles it was not run for, run for after their time, or run for without its peer's
    // buffer, since it started or was cleared: on a loaded machine the graph skips a cycle now
    // and then, or runs late, or runs the instrument before its peer, and what was written comes
    // late or not at all.
    int missedCycles() const;
    // The graph cycles it has been run for since it started.
    std::uint64_t cycles() const;
    void clear();

    struct Graph;

private:
    QString nodeName_;
    std::unique_ptr<Graph> graph_;
};

} // namespace testsupport
