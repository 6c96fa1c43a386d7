// Settings of the tone generator: published properties, defaults, clamping, the range message,
// and the event lists of the single-note operations (read back from the stream buffer).

#include "TMidiGenTestAccess.h"
#include "TestOutput.h"
#include "test_encoding_support.h"
#include <midigen/MidiGen.h>

#include <QMetaEnum>
#include <QMetaProperty>

#include <gtest/gtest.h>

#include <climits>
#include <string>

using encodingtest::assembleNote;
using encodingtest::body;
using encodingtest::Generator;

namespace
{

QVariant readProperty(const TMidiGen &generator, const char *name)
{
    return generator.property(name);
}

} // namespace

TEST(Settings, PublishesEveryPropertyInOrderWithItsDefault)
{
    const QMetaObject &meta = TMidiGen::staticMetaObject;
    const QStringList expected = {"Volume",     "Pan",        "Reverb",    "Chorus",
                                  "Sustain",    "Modulation", "PitchBend", "PBDelay",
                                  "PBDuration", "Duration",   "Note",      "Octave",
                                  "Instrument", "Channel",    "Loops",     "IsPlaying"};
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        names << meta.property(i).name();
    EXPECT_EQ(names, expected);

    TMidiGen fresh;
    EXPECT_EQ(fresh.Volume(), 100);
    EXPECT_EQ(fresh.Pan(), 0);
    EXPECT_EQ(fresh.Reverb(), 0);
    EXPECT_EQ(fresh.Chorus(), 0);
    EXPECT_FALSE(fresh.Sustain());
    EXPECT_EQ(fresh.Modulation(), 0);
    EXPECT_EQ(fresh.PitchBend(), 0);
    EXPECT_EQ(fresh.PBDelay(), 0);
    EXPECT_EQ(fresh.PBDuration(), 100);
    EXPECT_EQ(fresh.Duration(), 50u);
    EXPECT_EQ(fresh.Note(), TMidiGen::mgC);
    EXPECT_EQ(fresh.Octave(), 4);
    EXPECT_EQ(fresh.Instrument(), TMidiGen::mgAcousticGrandPiano);
    EXPECT_EQ(fresh.Channel(), TMidiGen::mgCh01);
    EXPECT_EQ(fresh.Loops(), 1u);
    EXPECT_FALSE(fresh.IsPlaying());

    // Every setting can be reset to that default, so a layout stores only values that differ;
    // IsPlaying is read-only and never stored.
    TMidiGen changed;
    for (const char *name : {"Volume", "Reverb", "Chorus", "Modulation", "PBDelay", "PBDuration"})
        changed.setProperty(name, 37);
    changed.setPan(-20);
    changed.setPitchBend(5);
    changed.setOctave(9);
    changed.setSustain(true);
    changed.setDuration(7);
    changed.setLoops(0);
    changed.setNote(TMidiGen::mgA);
    changed.setInstrument(TMidiGen::mgViolin);
    changed.setChannel(TMidiGen::mgCh16);
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        const bool isPlaying = QByteArray(property.name()) == "IsPlaying";
        EXPECT_EQ(property.isResettable(), !isPlaying) << property.name();
        EXPECT_EQ(property.isStored(), !isPlaying) << property.name();
        if (isPlaying)
            continue;
        EXPECT_NE(property.read(&changed), property.read(&fresh)) << property.name();
        property.reset(&changed);
        EXPECT_EQ(property.read(&changed), property.read(&fresh)) << property.name();
    }
}

TEST(Settings, EnumerationsNameEveryValueInOrder)
{
    const QMetaObject &meta = TMidiGen::staticMetaObject;
    const struct {
        const char *type;
        int count;
        const char *first;
        const char *last;
    } enums[] = {{"TMGNote", 12, "mgC", "mgB"},
                 {"TMGChannel", 16, "mgCh01", "mgCh16"},
                 {"TMGInstrument", 175, "mgAcousticGrandPiano", "mgOpenTriangle"}};
    for (const auto &e : enums) {
        SCOPED_TRACE(e.type);
        const QMetaEnum metaEnum = meta.enumerator(meta.indexOfEnumerator(e.type));
        ASSERT_TRUE(metaEnum.isValid());
        ASSERT_EQ(metaEnum.keyCount(), e.count);
        for (int i = 0; i < metaEnum.keyCount(); ++i)
            EXPECT_EQ(metaEnum.value(i), i) << metaEnum.key(i);
        EXPECT_STREQ(metaEnum.key(0), e.first);
        EXPECT_STREQ(metaEnum.key(e.count - 1), e.last);
    }
    // Spot checks across the instrument list, where a missing name would shift the rest.
    EXPECT_EQ(TMidiGen::mgFsharp, 6);
    EXPECT_EQ(TMidiGen::mgCh10, 9);
    EXPECT_EQ(TMidiGen::mgViolin, 40);
    EXPECT_EQ(TMidiGen::mgShamisen, 106);
    EXPECT_EQ(TMidiGen::mgGunshot, 127);
    EXPECT_EQ(TMidiGen::mgAcousticBassDrum, 128); // key 35
    EXPECT_EQ(TMidiGen::mgLowAgogo, 161);         // key 68
    EXPECT_EQ(QMetaEnum::fromType<TMidiGen::TMGInstrument>().valueToKey(174),
              QByteArray("mgOpenTriangle"));
}

TEST(Settings, RangedSettingsClampAtBothBoundsAndBeyond)
{
    const struct {
        const char *name;
        qint32 min;
        qint32 max;
    } ranges[] = {{"Volume", 0, 100},  {"Pan", -100, 100},     {"Reverb", 0, 100},
                  {"Chorus", 0, 100},  {"Modulation", 0, 100}, {"PitchBend", -120, 120},
                  {"PBDelay", 0, 100}, {"PBDuration", 0, 100}, {"Octave", 0, 10}};
    for (const auto &r : ranges) {
        const struct {
            qint32 written;
            qint32 stored;
        } writes[] = {{r.min, r.min},
                      {r.max, r.max},
                      {r.min - 1, r.min},
                      {r.max + 1, r.max},
                      {INT_MIN, r.min},
                      {INT_MAX, r.max},
                      {(r.min + r.max) / 2 + 1, (r.min + r.max) / 2 + 1}};
        for (const auto &w : writes) {
            Generator generator;
            generator.setProperty(r.name, w.written);
            EXPECT_EQ(readProperty(generator, r.name).toInt(), w.stored)
                << r.name << " := " << w.written;
        }
    }
}

TEST(Settings, EightBitSettingsClampValuesAboveTheirRange)
{
    Generator generator;
    generator.setNote(TMidiGen::TMGNote(12));
    EXPECT_EQ(generator.Note(), TMidiGen::mgB);
    generator.setNote(TMidiGen::TMGNote(255));
    EXPECT_EQ(generator.Note(), TMidiGen::mgB);
    generator.setInstrument(TMidiGen::TMGInstrument(175));
    EXPECT_EQ(generator.Instrument(), TMidiGen::mgOpenTriangle);
    generator.setInstrument(TMidiGen::TMGInstrument(200));
    EXPECT_EQ(generator.Instrument(), TMidiGen::mgOpenTriangle);
    generator.setChannel(TMidiGen::TMGChannel(16));
    EXPECT_EQ(generator.Channel(), TMidiGen::mgCh16);
    generator.setChannel(TMidiGen::TMGChannel(255));
    EXPECT_EQ(generator.Channel(), TMidiGen::mgCh16);
    generator.setChannel(TMidiGen::mgCh10);
    EXPECT_EQ(generator.Channel(), TMidiGen::mgCh10);

    // Unranged settings store any value.
    generator.setDuration(UINT_MAX);
    generator.setLoops(0);
    EXPECT_EQ(generator.Duration(), UINT_MAX);
    EXPECT_EQ(generator.Loops(), 0u);
}

TEST(Settings, RangeMessageIsShownOnlyWhileDesigning)
{
    Generator generator;
    QStringList shown;
    generator.setRangeMessageHook([&](const QString &text) { shown << text; });

    generator.setPan(-150);
    EXPECT_EQ(generator.Pan(), -100);
    EXPECT_TRUE(shown.isEmpty()) << "nothing is shown at run time";

    generator.setDesigning(true);
    generator.setPan(-150);
    generator.setOctave(11);
    generator.setInstrument(TMidiGen::TMGInstrument(200));
    // Bounds are inclusive: these show nothing.
    generator.setVolume(100);
    generator.setVolume(0);
    generator.setPitchBend(-120);
    generator.setPitchBend(120);
    assembleNote(generator, 128);
    EXPECT_EQ(shown,
              QStringList({"Value must be between -100 and 100", "Value must be between 0 and 10",
                           "Value must be between 0 and 174", "Value must be between 0 and 127"}));
    EXPECT_EQ(generator.Octave(), 10);

    // A designer that set no hook gets the clamping alone.
    TMidiGen unhooked;
    unhooked.setDesigning(true);
    unhooked.setPBDelay(101);
    EXPECT_EQ(unhooked.PBDelay(), 100);
}

TEST(Settings, InstanceNumbersFollowCreationOrder)
{
    TMidiGen first;
    TMidiGen second;
    const quint32 number = TMidiGenTestAccess::instanceNumber(first);
    EXPECT_GT(number, 0u);
    EXPECT_EQ(TMidiGenTestAccess::instanceNumber(second), number + 1);
}

// Without an application object no notification could arrive: every request is refused, with
// that reason, before the device is asked.
TEST(Settings, WithoutAnApplicationObjectRequestsAreRefusedAndSaySo)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    testsupport::TestOutput output;
    TMidiGen generator(output);
    EXPECT_FALSE(generator.PlayNote(60));
    EXPECT_EQ(generator.LastRefusal(), TMidiGen::mgNoApplication);
    EXPECT_FALSE(generator.LastError().isEmpty());
    EXPECT_TRUE(output.log.probed.empty());
}

// The three cases of a single note, seen in the stream behind the preamble.
TEST(PlayNote, BuildsTheListOfEachChannelCase)
{
    struct Expected {
        std::uint32_t delta;
        std::uint8_t status, data1, data2;
    };
    const auto check = [](const std::string &what, const Generator &generator,
                          std::vector<Expected> expected) {
        SCOPED_TRACE(what);
        const auto events = body(generator);
        ASSERT_EQ(events.size(), expected.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].delta, expected[i].delta) << "event " << i;
            EXPECT_EQ(events[i].status(), expected[i].status) << "event " << i;
            EXPECT_EQ(events[i].data1(), expected[i].data1) << "event " << i;
            EXPECT_EQ(events[i].data2(), expected[i].data2) << "event " << i;
        }
    };

    // Melodic instrument on a melodic channel.
    Generator melodic;
    melodic.setChannel(TMidiGen::mgCh03);
    melodic.setInstrument(TMidiGen::mgViolin);
    melodic.setDuration(30);
    assembleNote(melodic, 61);
    check("melodic instrument", melodic, {{0, 0xC2, 40, 0}, {0, 0x92, 61, 127}, {30, 0x92, 61, 0}});

    // Percussion instrument on a melodic channel: channel 9, the note only gives the rhythm.
    for (qint32 note : {60, 10, 500}) {
        Generator percussion;
        percussion.setInstrument(TMidiGen::mgOpenTriangle);
        assembleNote(percussion, note);
        check("percussion instrument, note " + std::to_string(note), percussion,
              {{0, 0xC9, 127, 0}, {0, 0x99, 81, 127}, {50, 0x99, 81, 0}});
    }

    // Percussion channel: no program change of its own (the stream opens with Instrument), the
    // note number picks the sound.
    Generator drums;
    drums.setChannel(TMidiGen::mgCh10);
    drums.setInstrument(TMidiGen::mgViolin);
    assembleNote(drums, 56);
    check("percussion channel", drums, {{0, 0xC9, 40, 0}, {0, 0x99, 56, 127}, {50, 0x99, 56, 0}});
}

TEST(PlayNote, LimitsTheNoteAndTimesTheNoteOff)
{
    const auto noteOf = [](const Generator &generator) { return body(generator).at(1).data1(); };
    Generator generator;
    assembleNote(generator, -5);
    EXPECT_EQ(noteOf(generator), 0);
    assembleNote(generator, 128);
    EXPECT_EQ(noteOf(generator), 127);

    // Each request starts a fresh buffer; Duration 0 puts the note off right after the note on.
    generator.setDuration(0);
    assembleNote(generator, 60);
    const auto events = body(generator);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].delta, 0u);
    EXPECT_EQ(events[2].data2(), 0) << "note off last";
}
