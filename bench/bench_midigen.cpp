// Stream assembly of the tone generator: the backup run's jingle and the largest stream
// (5,461 events), each from a ready event list, plus a whole single-note request.

#include "BackupRunSettings.h"
#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <benchmark/benchmark.h>

namespace
{

using midigen::EventList;

// The jingle "I94,G3,100;I31,50;G4,B,G,G3,D4" as the parser sorts it under Duration 400.
const EventList &jingle()
{
    static const EventList list = {
        {0, midigen::ProgramChange, 94, 0},   {0, midigen::NoteOn, 43, 0},
        {100, midigen::ProgramChange, 31, 0}, {150, midigen::NoteOn, 55, 0},
        {200, midigen::NoteOn, 59, 0},        {250, midigen::NoteOn, 55, 0},
        {300, midigen::NoteOn, 43, 0},        {350, midigen::NoteOn, 50, 0},
        {400, midigen::NoteOff, 43, 0},       {550, midigen::NoteOff, 55, 0},
        {600, midigen::NoteOff, 59, 0},       {650, midigen::NoteOff, 55, 0},
        {700, midigen::NoteOff, 43, 0},       {750, midigen::NoteOff, 50, 0},
    };
    return list;
}

// Note ons and offs that, behind the preamble and the opening program change, fill the stream
// to exactly 5,461 events.
const EventList &largest()
{
    static const EventList list = [] {
        EventList events;
        for (std::int32_t i = 0; i < 5445; ++i)
            events.push_back({i / 2 * 10, std::uint8_t(i % 2 ? midigen::NoteOff : midigen::NoteOn),
                              48 + i % 24, 0});
        return events;
    }();
    return list;
}

// A component that assembles one stream after another, as each play request does.
void assembleRepeatedly(benchmark::State &state, const EventList &list)
{
    TMidiGen generator;
    testsupport::configureForBackupRun(generator);
    for (auto _ : state) {
        generator.releaseStreamBuffer();
        generator.AssembleStream(list, false); // includes copying the list it takes over
        benchmark::DoNotOptimize(generator.streamBuffer().data());
    }
    state.counters["events"] = double(generator.streamBuffer().size() / midiout::StreamEvent::Size);
    state.counters["bytes"] = double(generator.streamBuffer().size());
}

void BM_AssembleJingle(benchmark::State &state)
{
    assembleRepeatedly(state, jingle());
}

void BM_AssembleLargest(benchmark::State &state)
{
    assembleRepeatedly(state, largest());
}

// A new component each time: the buffer grows from empty.
void BM_AssembleLargestFresh(benchmark::State &state)
{
    for (auto _ : state) {
        TMidiGen generator;
        generator.AssembleStream(largest(), false);
        benchmark::DoNotOptimize(generator.streamBuffer().data());
    }
}

// The work of a PlayNote request before the device: the note's list and its assembly.
void BM_NoteStream(benchmark::State &state)
{
    TMidiGen generator;
    for (auto _ : state) {
        generator.releaseStreamBuffer();
        generator.AssembleStream(generator.NoteList(60), true);
        benchmark::DoNotOptimize(generator.streamBuffer().data());
    }
}

} // namespace

BENCHMARK(BM_AssembleJingle);
BENCHMARK(BM_AssembleLargest);
BENCHMARK(BM_AssembleLargestFresh);
BENCHMARK(BM_NoteStream);

BENCHMARK_MAIN();
