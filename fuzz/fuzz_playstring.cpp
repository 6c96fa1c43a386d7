// Fuzz target: arbitrary bytes through the play-string parser and the stream encoder.
//
// Input: the first SettingsBytes bytes choose the settings, the rest is the play string. The
// settings are brought into the ranges of the tone generator's properties, as its setters keep
// them, and go unclamped to the parser as well. Every list is checked for the properties the
// encoder relies on, then encoded.

#include "PlayStringParser.h"
#include "StreamEncoder.h"
#include <midiout/MidiMessages.h>

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace
{

constexpr std::size_t SettingsBytes = 11;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Sorted by time with a program change first at its time, times within 0..INT32_MAX, only the
// three kinds the parser makes, channels 0..15, values within their ranges.
void checkList(const midigen::EventList &list)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        const midigen::NoteEvent &e = list[i];
        check(e.time >= 0);
        check(e.kind == midigen::ProgramChange || e.kind == midigen::NoteOn ||
              e.kind == midigen::NoteOff);
        check(e.channel < 16);
        check(e.value >= 0 && e.value <= 174);
        if (i > 0) {
            const midigen::NoteEvent &previous = list[i - 1];
            check(previous.time <= e.time);
            check(previous.time < e.time || e.kind != midigen::ProgramChange ||
                  previous.kind == midigen::ProgramChange);
        }
    }
}

std::uint32_t word(const std::uint8_t *data)
{
    std::uint32_t value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < SettingsBytes)
        return 0;
    const auto inRange = [](std::int32_t value, std::int32_t min, std::int32_t max) {
        return std::clamp(value, min, max);
    };
    const auto channel = static_cast<std::uint8_t>(inRange(data[6], 0, 15));
    const midigen::ParseSettings settings{
        .octave = inRange(static_cast<std::int8_t>(data[0]), 0, 10),
        .duration = word(data + 1),
        .instrument = static_cast<std::uint8_t>(inRange(data[5], 0, 174)),
        .playChannel = channel,
    };
    midigen::EncodeSettings encoding;
    encoding.instrument = settings.instrument;
    encoding.playChannel = channel;
    encoding.pitchBend = inRange(static_cast<std::int8_t>(data[7]), -120, 120);
    encoding.pbDelay = inRange(data[8], 0, 100);
    encoding.pbDuration = inRange(data[9], 0, 100);
    encoding.sustain = data[10] & 1;
    encoding.modulation = inRange(data[10] >> 1, 0, 100);
    const QByteArray text(reinterpret_cast<const char *>(data + SettingsBytes),
                          static_cast<qsizetype>(size - SettingsBytes));

    // As a play request parses and encodes.
    midigen::EventList list;
    const bool bendAllowed = midigen::ParsePlayString(text, settings, list);
    checkList(list);
    if (!list.empty()) {
        const std::size_t bytes = midigen::EncodeStream(list, encoding, bendAllowed).size();
        check(bytes % midiout::StreamEvent::Size == 0 && bytes <= 65532);
    }

    // Settings outside the ranges the setters allow must not break the parser either.
    midigen::EventList raw;
    const midigen::ParseSettings unclamped{
        .octave = static_cast<std::int8_t>(data[0]),
        .duration = word(data + 1),
        .instrument = data[5],
        .playChannel = static_cast<std::uint8_t>(data[6] & 15),
    };
    midigen::ParsePlayString(text, unclamped, raw);
    for (std::size_t i = 1; i < raw.size(); ++i)
        check(raw[i - 1].time <= raw[i].time);

    midigen::LookupNoteName(text.left(3));
    return 0;
}
