// Play strings parsed, sorted and encoded into a stream buffer: the backup run's jingle, and a
// play string long enough to fill the stream to its 5,461-event limit.

#include "BackupJingle.h"
#include "PlayStringParser.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <benchmark/benchmark.h>

#include <QByteArray>

namespace
{

// An instrument change, then 2,723 notes of a rising and falling figure with steps and lengths
// of their own: 5,447 list events, one more than fit behind the stream's preamble.
QByteArray longestPlayString()
{
    static const char *const figure[] = {"10;C4;40", "10;E4", "10;G4;35", "10;B-4",
                                         "10;C5;40", "10;G4", "10;E4;35", "10;D#4"};
    QByteArray text = "I94";
    for (int i = 0; i < 2723; ++i) {
        text += ',';
        text += figure[i % 8];
    }
    return text;
}

void parseSortEncode(benchmark::State &state, const QByteArray &text)
{
    TMidiGen generator;
    noggix::applyJingleSettings(generator);
    const midigen::ParseSettings parsing = midigen::ParseSettingsOf(generator);
    const midigen::EncodeSettings encoding = midigen::EncodeSettingsOf(generator);
    std::size_t listEvents = 0;
    midigen::StreamBuffer buffer;
    for (auto _ : state) {
        midigen::EventList list;
        const bool bendAllowed = midigen::ParsePlayString(text, parsing, list);
        listEvents = list.size();
        buffer.clear();
        midigen::EncodeStream(list, encoding, bendAllowed, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["list_events"] = double(listEvents);
    state.counters["stream_events"] = double(buffer.size() / midiout::StreamEvent::Size);
    state.counters["stream_bytes"] = double(buffer.size());
}

void parseAndSort(benchmark::State &state, const QByteArray &text)
{
    const midigen::ParseSettings settings{4, 400, 0, 0};
    for (auto _ : state) {
        midigen::EventList list;
        benchmark::DoNotOptimize(midigen::ParsePlayString(text, settings, list));
        benchmark::DoNotOptimize(list.data());
    }
}

void BM_ParseSortEncodeJingle(benchmark::State &state)
{
    parseSortEncode(state, noggix::BackupJingle);
}
BENCHMARK(BM_ParseSortEncodeJingle);

void BM_ParseSortEncodeLongest(benchmark::State &state)
{
    parseSortEncode(state, longestPlayString());
}
BENCHMARK(BM_ParseSortEncodeLongest)->Unit(benchmark::kMicrosecond);

void BM_ParseSortLongest(benchmark::State &state)
{
    parseAndSort(state, longestPlayString());
}
BENCHMARK(BM_ParseSortLongest)->Unit(benchmark::kMicrosecond);

} // namespace
