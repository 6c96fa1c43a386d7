// The order of the event sort: the exact orders the stream relies on, and its invariants over
// many random lists.

#include "test_parser_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>

using namespace parsertest;
using midigen::CompareEvents;
using midigen::SortEvents;

namespace
{

midigen::ParseSettings withDuration(std::uint32_t duration)
{
    midigen::ParseSettings s = mainWindowSettings();
    s.duration = duration;
    return s;
}

} // namespace

TEST(SortOrder, CompareEvents)
{
    EXPECT_LT(CompareEvents(noteOff(5, 1), noteOn(7, 1)), 0);
    EXPECT_GT(CompareEvents(programChange(7, 1), noteOn(5, 1)), 0);
    EXPECT_EQ(CompareEvents(noteOn(3, 60), noteOn(8, 1)), -5);
    EXPECT_EQ(CompareEvents(programChange(3, 1), noteOn(3, 1)), -1);
    EXPECT_EQ(CompareEvents(noteOff(3, 1), programChange(3, 1)), 1);
    EXPECT_EQ(CompareEvents(noteOff(3, 1), noteOn(3, 9, 4)), 0);
    EXPECT_EQ(CompareEvents(programChange(3, 1), programChange(3, 2)), 0);
    // The extremes of the time range compare without overflow.
    const std::int32_t max = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(CompareEvents(noteOn(max, 1), noteOn(0, 1)), max);
    EXPECT_EQ(CompareEvents(noteOn(0, 1), noteOn(max, 1)), -max);
    EXPECT_GT(CompareEvents(noteOn(max, 1), noteOn(std::numeric_limits<std::int32_t>::min(), 1)),
              0);
}

TEST(SortOrder, EqualEventsAreSwapped)
{
    // The second note on is struck before the first note off at 400.
    EXPECT_EQ(parse("C,400;C").list,
              (EventList{noteOn(0, 48), noteOn(400, 48), noteOff(400, 48), noteOff(800, 48)}));
    // With no length the note off comes first.
    EXPECT_EQ(parse("C", withDuration(0)).list, (EventList{noteOff(0, 48), noteOn(0, 48)}));
    // Two notes struck together come out in the reverse of their list order.
    EXPECT_EQ(parse("C3,D").list,
              (EventList{noteOn(0, 38), noteOn(0, 36), noteOff(400, 38), noteOff(400, 36)}));
    EXPECT_EQ(parse("C,E,G").list,
              (EventList{noteOn(0, 52), noteOn(0, 55), noteOn(0, 48), noteOff(400, 55),
                         noteOff(400, 48), noteOff(400, 52)}));
}

TEST(SortOrder, ProgramChangeGoesBeforeTheNotesOfItsTime)
{
    const EventList list = parse("C,I5,D").list;
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list.front(), programChange(0, 5));
    EventList list2 = {noteOn(0, 1),        noteOn(0, 2), noteOff(0, 3),
                       programChange(0, 4), noteOn(1, 5), programChange(1, 6)};
    SortEvents(list2);
    EXPECT_EQ(list2[0], programChange(0, 4));
    EXPECT_EQ(list2[4], programChange(1, 6));
}

TEST(SortOrder, EmptyAndSingleLists)
{
    EventList empty;
    SortEvents(empty);
    EXPECT_TRUE(empty.empty());
    EventList one = {noteOn(9, 1)};
    SortEvents(one);
    EXPECT_EQ(one, (EventList{noteOn(9, 1)}));
}

// Random lists of every size up to a few hundred, with few distinct times so that many events
// tie, sorted: the result is in non-decreasing time, a program change precedes every other event
// of its time, and it is a permutation of the input.
TEST(SortOrder, InvariantsOverRandomLists)
{
    std::mt19937 random(20240611);
    const std::uint8_t kinds[] = {midigen::ProgramChange, midigen::NoteOn, midigen::NoteOff, 3};
    for (int round = 0; round < 3000; ++round) {
        const int count = static_cast<int>(random() % 300);
        const std::uint32_t distinctTimes = 1 + random() % 40;
        const bool wideTimes = round % 10 == 0;
        EventList list;
        for (int i = 0; i < count; ++i) {
            const std::int32_t time = wideTimes
                                          ? static_cast<std::int32_t>(random() & 0x7FFFFFFF)
                                          : static_cast<std::int32_t>(random() % distinctTimes);
            list.push_back({time, kinds[random() % 4], static_cast<std::int32_t>(i),
                            static_cast<std::uint8_t>(random() % 16)});
        }
        EventList sorted = list;
        SortEvents(sorted);

        ASSERT_EQ(sorted.size(), list.size());
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            const NoteEvent &a = sorted[i - 1];
            const NoteEvent &b = sorted[i];
            ASSERT_LE(a.time, b.time) << "round " << round << " position " << i;
            if (a.time == b.time && b.kind == midigen::ProgramChange) {
                ASSERT_EQ(a.kind, midigen::ProgramChange) << "round " << round << " position " << i;
            }
        }
        // Every input event carries a distinct value, so equal multisets mean a permutation.
        const auto byValue = [](const NoteEvent &a, const NoteEvent &b) {
            return a.value < b.value;
        };
        std::sort(sorted.begin(), sorted.end(), byValue);
        ASSERT_EQ(sorted, list) << "round " << round;
    }
}

// Presorted, reversed and constant lists, the shapes the parser's lists mostly have.
TEST(SortOrder, LargeStructuredLists)
{
    for (int shape = 0; shape < 3; ++shape) {
        EventList list;
        const int count = 200000;
        for (int i = 0; i < count; ++i) {
            const std::int32_t time = shape == 0 ? i : shape == 1 ? count - i : 7;
            list.push_back(noteOn(time, i));
        }
        SortEvents(list);
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                                   [](auto &a, auto &b) { return a.time < b.time; }))
            << "shape " << shape;
    }
}
