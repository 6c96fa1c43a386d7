#pragma once

// Shorthands for the play-string parser tests: parse a text under given settings and build the
// events a test expects.

#include "PlayStringParser.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string_view>
#include <tuple>

namespace midigen
{

// Printed by GoogleTest when an expectation fails.
inline void PrintTo(const NoteEvent &e, std::ostream *os)
{
    *os << "{" << e.time << " kind " << int(e.kind) << " value " << e.value << " ch "
        << int(e.channel) << "}";
}

} // namespace midigen

namespace parsertest
{

using midigen::EventList;
using midigen::NoteEvent;

struct Parsed {
    EventList list;
    bool flag = false;
};

// The settings of the main window's tone generator: octave 4, Duration 400, instrument 0,
// play channel 0.
inline midigen::ParseSettings mainWindowSettings()
{
    midigen::ParseSettings settings;
    settings.duration = 400;
    return settings;
}

// Parses text byte for byte (embedded NULs included).
inline Parsed parse(std::string_view text,
                    const midigen::ParseSettings &settings = mainWindowSettings())
{
    Parsed result;
    result.flag = midigen::ParsePlayString(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), settings, result.list);
    return result;
}

inline NoteEvent programChange(std::int32_t time, std::int32_t value, std::uint8_t channel = 0)
{
    return {time, midigen::ProgramChange, value, channel};
}

inline NoteEvent noteOn(std::int32_t time, std::int32_t value, std::uint8_t channel = 0)
{
    return {time, midigen::NoteOn, value, channel};
}

inline NoteEvent noteOff(std::int32_t time, std::int32_t value, std::uint8_t channel = 0)
{
    return {time, midigen::NoteOff, value, channel};
}

// A note on at time and its note off length ticks later, in that list order.
inline EventList note(std::int32_t time, std::int32_t value, std::int32_t length = 400,
                      std::uint8_t channel = 0)
{
    return {noteOn(time, value, channel), noteOff(time + length, value, channel)};
}

// Whether actual holds the events of expected in an order the sort may give them: times
// non-decreasing, a program change before the other events of its time, and otherwise any order.
// For lists whose order among equal events is not what a test is about.
inline ::testing::AssertionResult sameEvents(const EventList &actual, EventList expected)
{
    const auto key = [](const NoteEvent &e) {
        return std::tuple(e.time, e.kind != midigen::ProgramChange, e.kind, e.value, e.channel);
    };
    const auto byKey = [&](const NoteEvent &a, const NoteEvent &b) { return key(a) < key(b); };
    const auto timeOrder = [](const NoteEvent &a, const NoteEvent &b) {
        return a.time < b.time || (a.time == b.time && a.kind == midigen::ProgramChange &&
                                   b.kind != midigen::ProgramChange);
    };
    EventList sortedActual = actual;
    std::sort(sortedActual.begin(), sortedActual.end(), byKey);
    std::sort(expected.begin(), expected.end(), byKey);
    const bool ordered = std::is_sorted(actual.begin(), actual.end(),
                                        [&](auto &a, auto &b) { return timeOrder(a, b); });
    if (ordered && sortedActual == expected)
        return ::testing::AssertionSuccess();
    std::ostringstream text;
    text << (ordered ? "other events" : "out of order") << "\n  actual:  ";
    for (const NoteEvent &e : actual)
        midigen::PrintTo(e, &text);
    text << "\n  expected:";
    for (const NoteEvent &e : expected)
        midigen::PrintTo(e, &text);
    return ::testing::AssertionFailure() << text.str();
}

} // namespace parsertest
