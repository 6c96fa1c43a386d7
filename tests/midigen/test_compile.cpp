// The compile step through the shared library alone, as a program uses it: what a request
// compiles into is what it plays, a play string of program changes alone plays its stream,
// compiling changes nothing, the stream's limit is counted, and the Standard MIDI File.

#include "BackupJingle.h"
#include "TestOutput.h"
#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace
{

using testsupport::TestOutput;
using Event = TMGNoteEvent;
constexpr quint8 Program = TMGNoteEvent::mgProgramChange;
constexpr quint8 On = TMGNoteEvent::mgNoteOn;
constexpr quint8 Off = TMGNoteEvent::mgNoteOff;

std::vector<std::uint8_t> bytes(const QByteArray &array)
{
    return {array.begin(), array.end()};
}

QByteArray tokens(const QByteArray &token, int count)
{
    QByteArrayList list;
    for (int i = 0; i < count; ++i)
        list.append(token);
    return list.join(',');
}

// A device that plays every stream out at once, so that requests follow each other freely.
class Compile : public ::testing::Test
{
protected:
    TestOutput output;
    TMidiGen gen{output};

    void SetUp() override { output.faults.instant = true; }
};

} // namespace

TEST_F(Compile, WhatARequestCompilesIntoIsWhatItPlays)
{
    struct Case {
        const char *name;
        std::function<void(TMidiGen &)> settings;
        QByteArray text; // empty: PlayNote(60)
    };
    const Case cases[] = {
        {"a note", [](TMidiGen &) {}, {}},
        {"a note with a bend ramp",
         [](TMidiGen &g) {
             g.setPitchBend(120);
             g.setPBDelay(0);
         },
         {}},
        {"a percussion sound on a melodic channel",
         [](TMidiGen &g) { g.setInstrument(TMidiGen::mgOpenTriangle); },
         {}},
        {"a note on the percussion channel",
         [](TMidiGen &g) { g.setChannel(TMidiGen::mgCh10); },
         {}},
        {"the backup run's jingle", noggix::applyJingleSettings, noggix::BackupJingle},
        {"a chord with a bend ramp",
         [](TMidiGen &g) {
             g.setPitchBend(60);
             g.setPBDelay(50);
             g.setPBDuration(50);
             g.setDuration(400);
             g.setVolume(30);
             g.setPan(-50);
         },
         "C,E,G"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestOutput output; // of its own: the first component to play owns an output
        output.faults.instant = true;
        TMidiGen generator(output);
        c.settings(generator);
        const bool note = c.text.isEmpty();
        const TMGCompiledRequest compiled =
            note ? generator.CompileNote(60) : generator.CompileString(c.text);
        ASSERT_TRUE(note ? generator.PlayNote(60) : generator.PlayString(c.text))
            << qPrintable(generator.LastError());
        QCoreApplication::processEvents();
        ASSERT_FALSE(output.log.queued.empty());
        EXPECT_GE(compiled.Stream().size(), 18 * TMGCompiledRequest::StreamEventSize);
        EXPECT_EQ(bytes(compiled.Stream()), output.log.queued.back());
        EXPECT_TRUE(compiled.HasNotes());
    }
}

TEST_F(Compile, TheListAndTheFlagAreThoseOfTheRequest)
{
    const TMGCompiledRequest note = gen.CompileNote(60);
    EXPECT_EQ(note.Events(), (QList<Event>{{0, Program, 0, 0}, {0, On, 60, 0}, {50, Off, 60, 0}}));
    EXPECT_TRUE(note.BendAllowed()) << "a single note may always bend";

    noggix::applyJingleSettings(gen);
    const TMGCompiledRequest jingle = gen.CompileString(noggix::BackupJingle);
    EXPECT_EQ(jingle.Events(), (QList<Event>{{0, Program, 94, 0},
                                             {0, On, 43, 0},
                                             {100, Program, 31, 0},
                                             {150, On, 55, 0},
                                             {200, On, 59, 0},
                                             {250, On, 55, 0},
                                             {300, On, 43, 0},
                                             {350, On, 50, 0},
                                             {400, Off, 43, 0},
                                             {550, Off, 55, 0},
                                             {600, Off, 59, 0},
                                             {650, Off, 55, 0},
                                             {700, Off, 43, 0},
                                             {750, Off, 50, 0}}));
    EXPECT_FALSE(jingle.BendAllowed());
    EXPECT_EQ(jingle.Stream().size(), 348);
    EXPECT_TRUE(gen.CompileString("C;200,E;200").BendAllowed());
}

// A list of program changes alone is a stream like any other: the preamble and the program
// changes, which select the sounds; only an empty list is nothing to play.
TEST_F(Compile, AStringOfProgramChangesAlonePlaysItsStreamAndOnlyAnEmptyListIsRefused)
{
    const TMGCompiledRequest programs = gen.CompileString("I5,I130");
    EXPECT_EQ(programs.Events(), (QList<Event>{{0, Program, 130, 9}, {0, Program, 5, 0}}));
    EXPECT_FALSE(programs.HasNotes());
    const QByteArray stream = programs.Stream();
    ASSERT_EQ(stream.size(), 17 * TMGCompiledRequest::StreamEventSize)
        << "the preamble and the two program changes, no opening one of Instrument";
    EXPECT_EQ(stream.right(24), QByteArray("\0\0\0\0\0\0\0\0\xC9\x7F\0\0"
                                           "\0\0\0\0\0\0\0\0\xC0\x05\0\0",
                                           24));
    // A step before the program change is its delta.
    const QByteArray later = gen.CompileString("243;I29;0935").Stream();
    ASSERT_EQ(later.size(), 16 * TMGCompiledRequest::StreamEventSize);
    EXPECT_EQ(later.right(12), QByteArray("\xF3\0\0\0\0\0\0\0\xC0\x1D\0\0", 12));

    // Played on a device that takes its time, as a real one does.
    output.faults.instant = false;
    std::vector<bool> told;
    const QObject listening;
    QObject::connect(&gen, &TMidiGen::IsPlayingChanged, &listening,
                     [&](bool on) { told.push_back(on); });
    ASSERT_TRUE(gen.PlayString("I5,I130")) << qPrintable(gen.LastError());
    ASSERT_EQ(output.log.queued.size(), 1u);
    EXPECT_EQ(output.log.queued.back(), bytes(stream));
    output.current->reachFirstEvent();
    ASSERT_TRUE(output.current->endPass());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(told, (std::vector<bool>{true, false})) << "the stream ends after its pass";
    EXPECT_EQ(output.log.closes, 1);
    output.faults.instant = true;

    // Nothing at all: an empty play string, and program changes that the percussion channel
    // drops.
    EXPECT_TRUE(gen.CompileString(",,").Stream().isEmpty());
    const int opens = output.log.opens;
    EXPECT_FALSE(gen.PlayString(",,"));
    EXPECT_EQ(gen.LastRefusal(), TMidiGen::mgNothingToPlay);
    gen.setChannel(TMidiGen::mgCh10);
    EXPECT_TRUE(gen.CompileString("I5").Events().isEmpty());
    EXPECT_FALSE(gen.PlayString("I5"));
    EXPECT_EQ(gen.LastRefusal(), TMidiGen::mgNothingToPlay);
    EXPECT_EQ(output.log.opens, opens) << "nothing was opened for them";
    EXPECT_TRUE(gen.PlayString("C")) << "the component is ready for the next request";
}

TEST_F(Compile, CompilingPlaysNothingAndChangesNothing)
{
    output.faults.probeFails = true;
    ASSERT_FALSE(gen.PlayNote(60));
    const TMGCompiledRequest before = gen.CompileString("C,E");
    const QByteArray stream = before.Stream();
    EXPECT_TRUE(gen.CompileNote(61).HasNotes());
    EXPECT_EQ(gen.LastRefusal(), TMidiGen::mgNoOutput) << "the last request's refusal stays";
    EXPECT_EQ(output.log.opens, 0);
    EXPECT_FALSE(gen.IsPlaying());

    // A compiled request keeps the settings of its compile; a copy is the same value.
    gen.setVolume(50);
    const TMGCompiledRequest copy = before;
    EXPECT_EQ(copy.Stream(), stream);
    EXPECT_NE(gen.CompileString("C,E").Stream(), stream);

    // In design mode an out-of-range note shows the range message, as PlayNote does.
    std::vector<QString> messages;
    gen.setDesigning(true);
    gen.setRangeMessageHook([&](const QString &text) { messages.push_back(text); });
    const TMGCompiledRequest high = gen.CompileNote(200);
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("Value must be between 0 and 127")});
    EXPECT_EQ(high.Events().at(1).value, 127);
}

TEST(CompiledRequest, TheStreamsLimitIsCounted)
{
    TestOutput output;
    TMidiGen gen(output);
    constexpr qsizetype Limit = TMGCompiledRequest::MaxStreamEvents;
    constexpr qsizetype Size = TMGCompiledRequest::StreamEventSize;

    // A chord of 6,000 notes: after the preamble (15) and the opening program change, 5,445
    // note ons fit and none of the note offs.
    const TMGCompiledRequest chord = gen.CompileString(tokens("C", 6000));
    EXPECT_EQ(chord.Events().size(), 12000) << "the list is whole";
    EXPECT_EQ(chord.Stream().size(), Limit * Size);
    EXPECT_EQ(chord.NotesLeftOut(), 6000 - (Limit - 16));
    EXPECT_EQ(chord.NoteEndsLost(), Limit - 16);

    // 3,000 short notes one after the other: ons and offs alternate, so 2,723 notes begin and
    // the last of them has no end.
    const TMGCompiledRequest run = gen.CompileString(tokens("2;N60;1", 3000));
    EXPECT_EQ(run.Stream().size(), Limit * Size);
    EXPECT_EQ(run.NotesLeftOut(), 3000 - 2723);
    EXPECT_EQ(run.NoteEndsLost(), 1);

    const TMGCompiledRequest fits = gen.CompileString(tokens("2;N60;1", 2722));
    EXPECT_EQ(fits.Stream().size(), (16 + 2 * 2722) * Size);
    EXPECT_EQ(fits.NotesLeftOut(), 0);
    EXPECT_EQ(fits.NoteEndsLost(), 0);
}

TEST(CompiledRequest, TheStandardMidiFileOfAStream)
{
    TestOutput output;
    TMidiGen gen(output);
    const QByteArray file = gen.CompileNote(60).StandardMidiFile();
    // Format 0, one track, 50 ticks per quarter note; the track: 15 controller events of four
    // bytes, the program change (three), the note on and, 50 ticks later, its end, then the end
    // of the track.
    const QByteArray header = QByteArray("MThd\0\0\0\6\0\0\0\1\0\x32MTrk\0\0\0\x4B", 22);
    EXPECT_EQ(file.left(22), header);
    EXPECT_EQ(file.size(), 22 + 75);
    EXPECT_EQ(file.mid(22, 4), QByteArray("\x00\xB0\x79\x00", 4)) << "reset all controllers";
    EXPECT_EQ(file.right(15), QByteArray("\x00\xC0\x00"
                                         "\x00\x90\x3C\x7F"
                                         "\x32\x90\x3C\x00"
                                         "\x00\xFF\x2F\x00",
                                         15));

    // Events further apart than a file's delta time holds are refused, with the reason.
    gen.setDuration(300000000);
    QString whyNot;
    EXPECT_TRUE(gen.CompileNote(60).StandardMidiFile(&whyNot).isEmpty());
    EXPECT_EQ(whyNot, QStringLiteral("event 17 follows the one before by 300000000 ticks; a "
                                     "Standard MIDI File holds at most 268435455"));
    EXPECT_TRUE(gen.CompileNote(60).StandardMidiFile().isEmpty());

    // An empty request: nothing in it, a file with only the end of its track.
    const TMGCompiledRequest empty;
    EXPECT_TRUE(empty.Events().isEmpty());
    EXPECT_FALSE(empty.BendAllowed());
    EXPECT_FALSE(empty.HasNotes());
    EXPECT_EQ(empty.NotesLeftOut() + empty.NoteEndsLost(), 0);
    EXPECT_EQ(empty.StandardMidiFile(),
              QByteArray("MThd\0\0\0\6\0\0\0\1\0\x32MTrk\0\0\0\4\0\xFF\x2F\0", 26));
}

// Events as gtest prints them: "time kind value channel", as midigen list prints them.
void PrintTo(const TMGNoteEvent &event, std::ostream *out)
{
    *out << event.time << ' ' << int(event.kind) << ' ' << event.value << ' ' << int(event.channel);
}
