// The play-string language, rule by rule: what a text turns into under the main window's settings
// unless a test says otherwise.

#include "test_parser_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

using namespace parsertest;
using midigen::LookupNoteName;
using midigen::ParseSettings;

namespace
{

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

// The note number a one-note play string sounds, or -1 when it emits no note.
std::int32_t noteOf(std::string_view text)
{
    const Parsed p = parse(text);
    for (const NoteEvent &e : p.list) {
        if (e.kind == midigen::NoteOn)
            return e.value;
    }
    return -1;
}

#define EXPECT_EVENTS(actual, expected) EXPECT_TRUE(sameEvents(actual, expected))

ParseSettings withDuration(std::uint32_t duration)
{
    ParseSettings s = mainWindowSettings();
    s.duration = duration;
    return s;
}

} // namespace

TEST(WorkedExample, JingleGivesFourteenSortedEventsAndNoBend)
{
    const Parsed p = parse("I94,G3,100;I31,50;G4,B,G,G3,D4");
    const EventList expected = {
        programChange(0, 94), noteOn(0, 43),    programChange(100, 31), noteOn(150, 55),
        noteOn(200, 59),      noteOn(250, 55),  noteOn(300, 43),        noteOn(350, 50),
        noteOff(400, 43),     noteOff(550, 55), noteOff(600, 59),       noteOff(650, 55),
        noteOff(700, 43),     noteOff(750, 50),
    };
    EXPECT_EQ(p.list, expected);
    EXPECT_FALSE(p.flag);
}

TEST(Tokens, EmptyTextsAndEmptyTokens)
{
    for (const char *text : {"", "   ", " \t\r\n "}) {
        const Parsed p = parse(text);
        EXPECT_TRUE(p.list.empty()) << text;
        EXPECT_FALSE(p.flag) << text;
    }
    // Only empty tokens: nothing to play, but the text itself was not empty.
    for (const char *text : {",", ",,,"}) {
        const Parsed p = parse(text);
        EXPECT_TRUE(p.list.empty()) << text;
        EXPECT_TRUE(p.flag) << text;
    }
    EXPECT_EVENTS(parse(",C").list, parse("C").list);
    EXPECT_EVENTS(parse("C,,D").list, parse("C,D").list);
}

TEST(Tokens, CaseAndBlanksDoNotMatter)
{
    const Parsed lower = parse("c");
    EXPECT_EQ(lower.list, note(0, 48));
    EXPECT_TRUE(lower.flag);
    EXPECT_EVENTS(parse("  i 9 4 , g 3 ,1 0 0;i31 ").list, parse("I94,G3,100;I31").list);
}

TEST(Tokens, ControlCharacterTokenEndsThePlayString)
{
    EXPECT_EVENTS(parse("C,\t,D").list, note(0, 48));
    EXPECT_EVENTS(parse("C,\r\n,D").list, note(0, 48));
    // Control characters around a token are trimmed away; only a token of nothing else ends.
    EXPECT_EVENTS(parse("C,\tD\n").list, parse("C,D").list);
    // The tokens after the end are not read, so they cannot clear the flag either.
    EXPECT_TRUE(parse("C,\t,100;D").flag);
}

TEST(Tokens, NulIsAControlCharacter)
{
    using namespace std::string_literals;
    EXPECT_EVENTS(parse("C\0,D"s).list, parse("C,D").list); // trimmed at a token's end
    EXPECT_EVENTS(parse("C,\0,D"s).list, note(0, 48));      // a NUL token ends the text
    EXPECT_TRUE(parse("C;4\0"s
                      "00"s)
                    .list.empty()); // unreadable length
    EXPECT_TRUE(parse("N6\0"s
                      "0"s)
                    .list.empty());                     // unreadable note number
    EXPECT_EVENTS(parse("\0\0C\0"s).list, note(0, 48)); // trimmed at the text's ends
}

TEST(Tokens, BytesOutsideAsciiCarryNoMeaning)
{
    // Such a byte is neither trimmed nor upper-cased: the token is simply unreadable and the
    // play string goes on.
    EXPECT_EVENTS(parse("\x85,C").list, note(0, 48));
    EXPECT_EVENTS(parse("\xA0,C").list, note(0, 48));
    EXPECT_EVENTS(parse("C\xE9,D").list, note(0, 50));
    EXPECT_TRUE(parse("\xE3\x81\x82").list.empty());
    EXPECT_EQ(LookupNoteName("\xC3"), -1);
    EXPECT_EQ(LookupNoteName("C\xA3"), -1);
}

TEST(Normalising, MissingFieldsComeFromTheRunningValues)
{
    // «C;200» takes the current step; «;C» and «C;» take the step and the last duration.
    EXPECT_EVENTS(parse("50;D,C;200").list,
                  (EventList{noteOn(50, 50), noteOn(100, 48), noteOff(300, 48), noteOff(450, 50)}));
    EXPECT_EVENTS(parse(";C").list, note(0, 48));
    EXPECT_EVENTS(parse("C;").list, note(0, 48));
    EXPECT_EVENTS(parse("100;C;200").list, note(100, 48, 200));
}

TEST(Normalising, TokenBeginningWithADigitBeginsWithItsStep)
{
    // «100» is only a step: it sounds nothing, but "D" follows it 100 ticks later.
    const Parsed p = parse("C,100,D");
    EXPECT_EQ(p.list,
              (EventList{noteOn(0, 48), noteOn(100, 50), noteOff(400, 48), noteOff(500, 50)}));
    EXPECT_FALSE(p.flag);
    // A step of 0 is a step too: it replaces the current one.
    EXPECT_EVENTS(parse("100;C,0;D,E").list,
                  (EventList{noteOn(100, 48), noteOn(100, 50), noteOn(100, 52), noteOff(500, 48),
                             noteOff(500, 50), noteOff(500, 52)}));
    EXPECT_EVENTS(parse("3;C,D").list,
                  (EventList{noteOn(3, 48), noteOn(6, 50), noteOff(403, 48), noteOff(406, 50)}));
    // "5C" is a step text that is no number: nothing sounds and the flag falls.
    const Parsed digitFirst = parse("5C");
    EXPECT_TRUE(digitFirst.list.empty());
    EXPECT_FALSE(digitFirst.flag);
}

TEST(Normalising, AFourthFieldMakesTheLengthUnreadable)
{
    // The step is still taken: the next "C" follows at 100.
    const Parsed p = parse("100;C;200;300,C");
    EXPECT_EQ(p.list, note(100, 48));
    EXPECT_FALSE(p.flag);
    EXPECT_TRUE(parse("C;;").list.empty());
}

TEST(NumberRule, DecimalWithinSigned32Bits)
{
    const ParseSettings zero = withDuration(0);
    EXPECT_EVENTS(parse("2147483647;C", zero).list,
                  (EventList{noteOff(Int32Max, 48), noteOn(Int32Max, 48)}));
    // One more does not read: no note, and the step stays at 0 for the next token.
    EXPECT_EVENTS(parse("2147483648;C,C", zero).list, parse("C", zero).list);
    EXPECT_EVENTS(parse("99999999999999999999;C,C", zero).list, parse("C", zero).list);
    EXPECT_EVENTS(parse("C;0000000000300").list, note(0, 48, 300));
}

TEST(NumberRule, SignsAreOptional)
{
    EXPECT_EVENTS(parse("C;+300").list, note(0, 48, 300));
    EXPECT_EVENTS(parse("I+5").list, (EventList{programChange(0, 5)}));
    EXPECT_EVENTS(parse("N+60").list, note(0, 60));
    EXPECT_EVENTS(parse("C;-0").list, note(0, 48)); // a length of 0: the last duration
    EXPECT_TRUE(parse("C;-300").list.empty());
    EXPECT_TRUE(parse("C;+-3").list.empty());
    EXPECT_TRUE(parse("C;3+").list.empty());
}

TEST(NumberRule, HexadecimalPrefixes)
{
    EXPECT_EVENTS(parse("I$10").list, (EventList{programChange(0, 16)}));
    EXPECT_EVENTS(parse("N$3C").list, note(0, 60));
    EXPECT_EVENTS(parse("C;$C8").list, note(0, 48, 200));
    EXPECT_EVENTS(parse("c;$c8").list, note(0, 48, 200)); // upper-cased first
    EXPECT_EVENTS(parse("C;X12C").list, note(0, 48, 300));
    EXPECT_EVENTS(parse("0X10;C").list, note(16, 48));
    EXPECT_EVENTS(parse("C;+$12C").list, note(0, 48, 300));
}

TEST(NumberRule, HexadecimalIsSigned32BitWithEightSignificantDigits)
{
    const ParseSettings zero = withDuration(0);
    EXPECT_EVENTS(parse("0X7FFFFFFF;C", zero).list,
                  (EventList{noteOff(Int32Max, 48), noteOn(Int32Max, 48)}));
    EXPECT_TRUE(parse("0X80000000;C", zero).list.empty());  // negative
    EXPECT_TRUE(parse("0X100000000;C", zero).list.empty()); // nine significant digits
    EXPECT_EVENTS(parse("0X0000000010;C", zero).list, parse("16;C", zero).list);
    // $FFFFFFFF is -1, so "-" makes it 1; $FFFFFFFB is -5, negated 5.
    EXPECT_EVENTS(parse("C;-$FFFFFFFF").list, note(0, 48, 1));
    EXPECT_EVENTS(parse("I-$FFFFFFFB").list, (EventList{programChange(0, 5)}));
    EXPECT_TRUE(parse("I$FFFFFFFF").list.empty());
}

TEST(NumberRule, PrefixesAndSignsAloneDoNotRead)
{
    for (const char *length : {"$", "X", "0X", "+", "-", "-$", "$G", "0X1G", "$-5", "1A"}) {
        EXPECT_TRUE(parse(std::string("C;") + length).list.empty()) << length;
    }
}

TEST(NoteNames, TheTableAndItsAccidentals)
{
    const struct {
        const char *name;
        std::int32_t semitone;
    } names[] = {
        {"C", 0},   {"C+", 1}, {"C#", 1},  {"D", 2},   {"D-", 1},  {"D+", 3},  {"D#", 3},
        {"E", 4},   {"E-", 3}, {"F", 5},   {"F+", 6},  {"F#", 6},  {"G", 7},   {"G-", 6},
        {"G+", 8},  {"G#", 8}, {"A", 9},   {"A-", 8},  {"A+", 10}, {"A#", 10}, {"B", 11},
        {"B-", 10}, {"c#", 1}, {"C-", -1}, {"E#", -1}, {"E+", -1}, {"F-", -1}, {"B+", -1},
        {"B#", -1}, {"H", -1}, {"", -1},
    };
    for (const auto &n : names)
        EXPECT_EQ(LookupNoteName(n.name), n.semitone) << n.name;
}

TEST(NoteNames, OtherTextsOfTheTable)
{
    // Whatever stands in front of a match is read as its semitone, 0 when it is no number.
    EXPECT_EQ(LookupNoteName("5"), 0);   // "E-" in front
    EXPECT_EQ(LookupNoteName("1C"), 0);  // "C0" in front
    EXPECT_EQ(LookupNoteName("#"), 0);   // "1C" in front
    EXPECT_EQ(LookupNoteName("0A"), -1); // "-1" in front: not found
    EXPECT_EQ(LookupNoteName("00"), 0);  // at the very start
    EXPECT_EQ(LookupNoteName("0C"), 0);
    EXPECT_EQ(noteOf("0;5"), 48);
    EXPECT_EQ(noteOf("0;1C"), 48);
    EXPECT_EQ(noteOf("0;0A"), -1);
}

TEST(NoteNames, AccidentalsAndOctaves)
{
    EXPECT_EQ(noteOf("C#"), 49);
    EXPECT_EQ(noteOf("C+"), 49);
    EXPECT_EQ(noteOf("D-"), 49);
    EXPECT_EQ(noteOf("B-3"), 46);
    EXPECT_EQ(noteOf("C0"), 0);
    EXPECT_EQ(noteOf("G10"), 127);
    for (const char *text : {"C-", "E#", "B+", "H", "CC", "C12", "C#-1", "I", "N"})
        EXPECT_EQ(noteOf(text), -1) << text;
}

TEST(NoteNames, TheOctaveCarriesOver)
{
    EXPECT_EVENTS(parse("C3,D").list,
                  (EventList{noteOn(0, 36), noteOn(0, 38), noteOff(400, 36), noteOff(400, 38)}));
    // A found name takes its octave even when the note is too high to sound.
    EXPECT_EVENTS(parse("G#10,C").list, note(0, 120));
    EXPECT_EVENTS(parse("B10,C").list, note(0, 120));
    // An octave out of range is not taken.
    EXPECT_EVENTS(parse("C12,C").list, note(0, 48));
    EXPECT_EVENTS(parse("H7,C").list, note(0, 48));
}

TEST(NoteNames, ATokenWithoutASoundKeepsTheOctave)
{
    EXPECT_EVENTS(parse("B10,100,C").list, note(100, 120));
    EXPECT_EVENTS(parse("C0,100,C").list,
                  (EventList{noteOn(0, 0), noteOn(100, 0), noteOff(400, 0), noteOff(500, 0)}));
    for (std::int32_t octave = 0; octave <= 10; ++octave) {
        ParseSettings s = mainWindowSettings();
        s.octave = octave;
        EXPECT_TRUE(parse("100", s).list.empty()) << octave;
        EXPECT_TRUE(parse("100;;200", s).list.empty()) << octave;
        EXPECT_EVENTS(parse("100,C", s).list, note(100, 12 * octave)) << octave;
    }
}

TEST(NoteNames, RawNoteNumbers)
{
    EXPECT_EQ(noteOf("N60"), 60);
    EXPECT_EQ(noteOf("N0"), 0);
    EXPECT_EQ(noteOf("N127"), 127);
    EXPECT_EQ(noteOf("N128"), -1);
    EXPECT_EQ(noteOf("N-1"), -1);
    // A raw note changes no octave.
    EXPECT_EVENTS(parse("N60,C").list,
                  (EventList{noteOn(0, 48), noteOn(0, 60), noteOff(400, 48), noteOff(400, 60)}));
}

TEST(LengthsAndFlag, OneChordOfOneLengthKeepsTheFlag)
{
    const Parsed chord = parse("C,E,G");
    EXPECT_EVENTS(chord.list, (EventList{noteOn(0, 48), noteOn(0, 52), noteOn(0, 55),
                                         noteOff(400, 48), noteOff(400, 52), noteOff(400, 55)}));
    EXPECT_TRUE(chord.flag);
    EXPECT_TRUE(parse("C;200,E;200").flag);
    EXPECT_TRUE(parse("0;C,0;E").flag);
    EXPECT_FALSE(parse("C;200,E;300").flag);
    // "I94" already set the last duration to 400.
    EXPECT_FALSE(parse("I94,G3;300").flag);
    EXPECT_FALSE(parse("1;C").flag);
    // A Duration of 0 set the last duration too.
    EXPECT_TRUE(parse("C,E", withDuration(0)).flag);
    EXPECT_FALSE(parse("C,E;300", withDuration(0)).flag);
}

TEST(LengthsAndFlag, LengthsSetTheLastDuration)
{
    const Parsed p = parse("I94;300,C");
    EXPECT_EQ(p.list, (EventList{programChange(0, 94), noteOn(0, 48), noteOff(300, 48)}));
    EXPECT_TRUE(p.flag);
    // A length of 0 takes the last duration, or Duration before any is set.
    EXPECT_EVENTS(parse("C;0").list, note(0, 48, 400));
    EXPECT_EVENTS(parse("D;300,C;0").list,
                  (EventList{noteOn(0, 48), noteOn(0, 50), noteOff(300, 48), noteOff(300, 50)}));
    EXPECT_EVENTS(parse("C;0", withDuration(70)).list, note(0, 48, 70));
}

TEST(LengthsAndFlag, DurationZeroPutsTheNoteOffFirst)
{
    EXPECT_EVENTS(parse("C", withDuration(0)).list, (EventList{noteOff(0, 48), noteOn(0, 48)}));
}

TEST(LengthsAndFlag, DurationBeyondSigned32BitsIsTheLargestLength)
{
    for (std::uint32_t duration : {0x80000000u, 3000000000u, 0xFFFFFFFFu}) {
        const ParseSettings s = withDuration(duration);
        EXPECT_EVENTS(parse("C", s).list, note(0, 48, Int32Max)) << duration;
        EXPECT_EVENTS(parse("C;0", s).list, note(0, 48, Int32Max)) << duration;
        // One tick later the note off would pass the largest time: the note is left out.
        EXPECT_TRUE(parse("1;C", s).list.empty()) << duration;
    }
}

TEST(LengthsAndFlag, TimesBeyondSigned32BitsAreLeftOut)
{
    // The running time keeps counting past the largest time; nothing wraps round to a small one.
    EXPECT_EVENTS(parse("2000000000;C;1,2000000000;C;1,2000000000;C;1").list,
                  note(2000000000, 48, 1));
    EXPECT_EVENTS(parse("2147483647;I5,1;I6,1;C").list, (EventList{programChange(Int32Max, 5)}));
    EXPECT_TRUE(parse("2147483647;C;1").list.empty());
    EXPECT_EVENTS(parse("2147483646;C;1").list, note(2147483646, 48, 1));
    std::string many;
    for (int i = 0; i < 3000; ++i)
        many += "2147483647;C,";
    EXPECT_EVENTS(parse(many, withDuration(0)).list,
                  (EventList{noteOff(Int32Max, 48), noteOn(Int32Max, 48)}));
}

TEST(Channels, InstrumentsOnAMelodicPlayChannel)
{
    EXPECT_EVENTS(parse("C,I5,D").list,
                  (EventList{programChange(0, 5), noteOn(0, 48), noteOn(0, 50), noteOff(400, 48),
                             noteOff(400, 50)}));
    EXPECT_EVENTS(parse("I200,C").list, note(0, 48));
    EXPECT_EVENTS(parse("I174").list, (EventList{programChange(0, 174, 9)}));
    EXPECT_TRUE(parse("I175").list.empty());
}

TEST(Channels, PercussionInstrumentsMoveNotesToChannel9)
{
    EXPECT_EVENTS(parse("I130,C,D").list,
                  (EventList{programChange(0, 130, 9), noteOn(0, 130, 9), noteOn(0, 130, 9),
                             noteOff(400, 130, 9), noteOff(400, 130, 9)}));
    // A melodic instrument brings the notes back to the play channel.
    EXPECT_EVENTS(parse("I130,C,100;I5,D").list,
                  (EventList{programChange(0, 130, 9), noteOn(0, 130, 9), programChange(100, 5),
                             noteOn(200, 50), noteOff(400, 130, 9), noteOff(600, 50)}));

    ParseSettings percussion = mainWindowSettings();
    percussion.instrument = 130;
    EXPECT_EVENTS(parse("C", percussion).list, note(0, 130, 400, 9));
}

TEST(Channels, OtherPlayChannels)
{
    ParseSettings third = mainWindowSettings();
    third.playChannel = 3;
    EXPECT_EVENTS(parse("I5,C", third).list,
                  (EventList{programChange(0, 5, 3), noteOn(0, 48, 3), noteOff(400, 48, 3)}));
    EXPECT_EVENTS(parse("I140,C,I7,D", third).list,
                  (EventList{programChange(0, 140, 9), programChange(0, 7, 3), noteOn(0, 140, 9),
                             noteOn(0, 50, 3), noteOff(400, 140, 9), noteOff(400, 50, 3)}));
}

TEST(Channels, PercussionPlayChannelSendsNoProgramChange)
{
    ParseSettings drums = mainWindowSettings();
    drums.playChannel = 9;
    // The dropped program change still advanced the running time by 100.
    EXPECT_EVENTS(parse("C,100;I5,D", drums).list,
                  (EventList{noteOn(0, 48, 9), noteOn(200, 50, 9), noteOff(400, 48, 9),
                             noteOff(600, 50, 9)}));
    // On channel 9 the note number itself selects the sound.
    EXPECT_EVENTS(parse("I130,C", drums).list, note(0, 48, 400, 9));
    drums.instrument = 150;
    EXPECT_EVENTS(parse("C", drums).list, note(0, 48, 400, 9));
}

TEST(SilentTokens, KeepWhatTheyChanged)
{
    // Step, length, octave and flag set by tokens that sound nothing.
    EXPECT_EVENTS(parse("100,C").list, note(100, 48));
    EXPECT_EVENTS(parse("I200;300,C").list, note(0, 48, 300));
    EXPECT_FALSE(parse("I200;300,C;400").flag);
    EXPECT_EVENTS(parse("B10,C").list, note(0, 120));
    EXPECT_EVENTS(parse("H;250,C").list, note(0, 48, 250));
    // A token with an unreadable step keeps the current step.
    EXPECT_EVENTS(parse("50;C,5Q;D,E").list,
                  (EventList{noteOn(50, 48), noteOn(100, 52), noteOff(450, 48), noteOff(500, 52)}));
}

TEST(SilentTokens, NoStateCarriesOverBetweenPlayStrings)
{
    EXPECT_TRUE(parse("B10;300,100").list.empty());
    EXPECT_EVENTS(parse("C").list, note(0, 48));
}
