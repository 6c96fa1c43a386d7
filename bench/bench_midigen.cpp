// Stream assembly of the tone generator: the backup run's jingle and the largest stream
// (5,461 events), each from a ready event list, plus a whole single-note request.

#include "BackupJingle.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
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

// One stream after another into the same buffer, as a component's play requests do.
void assembleRepeatedly(benchmark::State &state, const EventList &list)
{
    TMidiGen generator;
    noggix::applyJingleSettings(generator);
    const midigen::EncodeSettings settings = midigen::EncodeSettingsOf(generator);
    midigen::StreamBuffer buffer;
    for (auto _ : state) {
        buffer.clear();
        midigen::EncodeStream(list, settings, false, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["events"] = double(buffer.size() / midiout::StreamEvent::Size);
    state.counters["bytes"] = double(buffer.size());
}

void BM_AssembleJingle(benchmark::State &state)
{
    assembleRepeatedly(state, jingle());
}

void BM_AssembleLargest(benchmark::State &state)
{
    assembleRepeatedly(state, largest());
}

// A new buffer each time: it grows from empty.
void BM_AssembleLargestFresh(benchmark::State &state)
{
    const midigen::EncodeSettings settings;
    for (auto _ : state) {
        const midigen::StreamBuffer buffer = midigen::EncodeStream(largest(), settings, false);
        benchmark::DoNotOptimize(buffer.data());
    }
}

// The work of a PlayNote request before the device: the note's list and its encoding.
void BM_NoteStream(benchmark::State &state)
{
    const midigen::EncodeSettings settings;
    midigen::StreamBuffer buffer;
    for (auto _ : state) {
        buffer.clear();
        midigen::EncodeStream(midigen::NoteList(60, 0, 0, 50), settings, true, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
}

} // namespace

BENCHMARK(BM_AssembleJingle);
BENCHMARK(BM_AssembleLargest);
BENCHMARK(BM_AssembleLargestFresh);
BENCHMARK(BM_NoteStream);

BENCHMARK_MAIN();
