// The stream buffer, byte for byte: preamble, program changes, notes, percussion keys, the
// scaling of the settings, the pitch-bend ramp and the size limit.

#include "BackupJingle.h"
#include "test_encoding_support.h"
#include <midigen/MidiGen.h>

#include <gtest/gtest.h>

using encodingtest::assembleNote;
using encodingtest::assembleString;
using encodingtest::body;
using encodingtest::events;
using encodingtest::Generator;
using encodingtest::hexLines;
using midigen::EventList;
using midigen::NoteEvent;

namespace
{

constexpr std::uint8_t On = midigen::NoteOn;
constexpr std::uint8_t Off = midigen::NoteOff;
constexpr std::uint8_t Program = midigen::ProgramChange;

} // namespace

TEST(Encoding, DefaultNoteIsByteExact)
{
    Generator generator;
    assembleNote(generator, 60);
    const std::vector<std::string> expected = {
        "00 00 00 00 00 00 00 00 B0 79 00 40", // reset all controllers, callback flag
        "00 00 00 00 00 00 00 00 B9 79 00 00",
        "00 00 00 00 00 00 00 00 B0 64 00 00", // pitch-bend range: 12 semitones
        "00 00 00 00 00 00 00 00 B0 65 00 00", "00 00 00 00 00 00 00 00 B0 06 0C 00",
        "00 00 00 00 00 00 00 00 B0 64 7F 00", // no parameter selected
        "00 00 00 00 00 00 00 00 B0 65 7F 00",
        "00 00 00 00 00 00 00 00 B0 0A 40 00", // pan
        "00 00 00 00 00 00 00 00 B9 0A 40 00",
        "00 00 00 00 00 00 00 00 B0 01 00 00", // modulation
        "00 00 00 00 00 00 00 00 B0 07 7F 00", // volume
        "00 00 00 00 00 00 00 00 B9 07 7F 00",
        "00 00 00 00 00 00 00 00 B0 40 00 00", // sustain
        "00 00 00 00 00 00 00 00 B0 5B 00 00", // reverb
        "00 00 00 00 00 00 00 00 B0 5D 00 00", // chorus
        "00 00 00 00 00 00 00 00 C0 00 00 00", // program 0
        "00 00 00 00 00 00 00 00 90 3C 7F 00", // note on 60
        "32 00 00 00 00 00 00 00 90 3C 00 00", // note off 500 ms later
    };
    EXPECT_EQ(hexLines(generator), expected);
    EXPECT_EQ(generator.streamBuffer().size(), 216u);
}

TEST(Encoding, JingleStream)
{
    Generator generator;
    noggix::applyJingleSettings(generator);
    const EventList jingle = {
        {0, Program, 94, 0}, {0, On, 43, 0},    {100, Program, 31, 0}, {150, On, 55, 0},
        {200, On, 59, 0},    {250, On, 55, 0},  {300, On, 43, 0},      {350, On, 50, 0},
        {400, Off, 43, 0},   {550, Off, 55, 0}, {600, Off, 59, 0},     {650, Off, 55, 0},
        {700, Off, 43, 0},   {750, Off, 50, 0},
    };
    generator.AssembleStream(jingle, false);
    ASSERT_EQ(generator.streamBuffer().size(), 348u);
    const auto all = events(generator);
    EXPECT_EQ(all[7].word, 0x00400AB0u) << "pan 64";
    EXPECT_EQ(all[9].word, 0x007F01B0u) << "modulation 127";
    EXPECT_EQ(all[10].word, 0x007F07B0u) << "volume 127";
    EXPECT_EQ(all[12].word, 0x007F40B0u) << "sustain 127";
    EXPECT_EQ(all[13].word, 0x00005BB0u) << "reverb 0";
    EXPECT_EQ(all[14].word, 0x00005DB0u) << "chorus 0";

    const std::uint32_t words[] = {0xC0 | 94 << 8,
                                   0x90 | 43 << 8 | 127 << 16,
                                   0xC0 | 31 << 8,
                                   0x90 | 55 << 8 | 127 << 16,
                                   0x90 | 59 << 8 | 127 << 16,
                                   0x90 | 55 << 8 | 127 << 16,
                                   0x90 | 43 << 8 | 127 << 16,
                                   0x90 | 50 << 8 | 127 << 16,
                                   0x90 | 43 << 8,
                                   0x90 | 55 << 8,
                                   0x90 | 59 << 8,
                                   0x90 | 55 << 8,
                                   0x90 | 43 << 8,
                                   0x90 | 50 << 8};
    const std::uint32_t deltas[] = {0, 0, 100, 50, 50, 50, 50, 50, 50, 150, 50, 50, 50, 50};
    const auto tail = body(generator);
    ASSERT_EQ(tail.size(), 14u);
    for (std::size_t i = 0; i < tail.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "event " << i);
        EXPECT_EQ(tail[i].word, words[i]);
        EXPECT_EQ(tail[i].delta, deltas[i]);
        EXPECT_EQ(tail[i].streamId, 0u);
    }
}

TEST(Encoding, SettingsScaleToControllerValues)
{
    const auto preamble = [](auto configure) {
        Generator generator;
        configure(generator);
        assembleNote(generator, 60);
        return events(generator);
    };
    const std::pair<qint32, int> pans[] = {{-100, 1}, {-50, 33}, {0, 64}, {50, 95}, {100, 127}};
    for (const auto &[pan, value] : pans) {
        const auto all = preamble([pan = pan](TMidiGen &g) { g.setPan(pan); });
        EXPECT_EQ(all[7].word, 0xB0u | 10 << 8 | value << 16) << "pan " << pan;
        EXPECT_EQ(all[8].word, 0xB9u | 10 << 8 | value << 16) << "pan " << pan;
    }
    const std::pair<qint32, int> percents[] = {{0, 0}, {50, 63}, {99, 125}, {100, 127}};
    for (const auto &[percent, value] : percents) {
        const auto all = preamble([p = percent](TMidiGen &g) {
            g.setVolume(p);
            g.setModulation(p);
            g.setReverb(p);
            g.setChorus(p);
        });
        EXPECT_EQ(all[9].word, 0xB0u | 1 << 8 | value << 16) << "modulation " << percent;
        EXPECT_EQ(all[10].word, 0xB0u | 7 << 8 | value << 16) << "volume " << percent;
        EXPECT_EQ(all[11].word, 0xB9u | 7 << 8 | value << 16) << "volume " << percent;
        EXPECT_EQ(all[13].word, 0xB0u | 91 << 8 | value << 16) << "reverb " << percent;
        EXPECT_EQ(all[14].word, 0xB0u | 93 << 8 | value << 16) << "chorus " << percent;
    }
    // The play channel carries the preamble; channel 9 keeps its copies.
    const auto all = preamble([](TMidiGen &g) { g.setChannel(TMidiGen::mgCh16); });
    EXPECT_EQ(all[0].word, 0x400079BFu);
    EXPECT_EQ(all[1].word, 0x000079B9u);
    EXPECT_EQ(all[14].word, 0x00005DBFu);
}

TEST(Encoding, ProgramsAndPercussionKeys)
{
    Generator generator; // play channel 0
    generator.AssembleStream({{0, Program, 174, 0},
                              {0, On, 128, 9},
                              {5, Off, 128, 9},
                              {5, On, 174, 9},
                              {6, Off, 174, 9},
                              {6, On, 100, 9}, // key 7, raised to 35
                              {6, On, 250, 9}, // key 157, lowered to 81
                              {7, On, 200, 3}, // melodic note above 127
                              {7, 7, 1, 0},    // unknown kind: nothing, but its time counts
                              {9, Off, 200, 3}},
                             true);
    const std::uint32_t words[] = {0xC0 | 127 << 8,
                                   0x99 | 35 << 8 | 127 << 16,
                                   0x99 | 35 << 8,
                                   0x99 | 81 << 8 | 127 << 16,
                                   0x99 | 81 << 8,
                                   0x99 | 35 << 8 | 127 << 16,
                                   0x99 | 81 << 8 | 127 << 16,
                                   0x93 | 127 << 8 | 127 << 16,
                                   0x93 | 127 << 8};
    const std::uint32_t deltas[] = {0, 0, 5, 0, 1, 0, 0, 1, 2};
    const auto tail = body(generator);
    ASSERT_EQ(tail.size(), 9u);
    for (std::size_t i = 0; i < tail.size(); ++i) {
        EXPECT_EQ(tail[i].word, words[i]) << "event " << i;
        EXPECT_EQ(tail[i].delta, deltas[i]) << "event " << i;
    }

    // On the percussion play channel the note number is the key itself.
    Generator drums;
    drums.setChannel(TMidiGen::mgCh10);
    drums.setInstrument(TMidiGen::mgOpenTriangle);
    drums.AssembleStream({{0, On, 60, 9}}, true);
    const auto drumTail = body(drums);
    ASSERT_EQ(drumTail.size(), 2u);
    EXPECT_EQ(drumTail[0].word, 0xC9u | 127 << 8) << "opening program, 174 sent as 127";
    EXPECT_EQ(drumTail[1].word, 0x99u | 60 << 8 | 127 << 16);
}

TEST(Encoding, BendRampsInsideTheFirstNoteOff)
{
    struct Case {
        quint32 duration;
        qint32 bend, delay, span;
        std::size_t steps;
        std::uint32_t firstDelta;
        int first, increment, last;
    };
    const Case cases[] = {
        {50, 120, 0, 100, 50, 1, 8355, 163, 16342},
        {50, -120, 0, 100, 50, 1, 8029, -163, 42},
        {400, 60, 50, 50, 100, 201, 8232, 40, 12192},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "bend " << c.bend << ", delay " << c.delay << ", span "
                                        << c.span << ", duration " << c.duration);
        Generator generator;
        generator.setDuration(c.duration);
        generator.setPitchBend(c.bend);
        generator.setPBDelay(c.delay);
        generator.setPBDuration(c.span);
        assembleNote(generator, 60);
        const auto tail = body(generator);
        ASSERT_EQ(tail.size(), 3 + c.steps);
        std::uint32_t elapsed = 0;
        for (std::size_t k = 0; k < c.steps; ++k) {
            const auto &e = tail[2 + k];
            EXPECT_EQ(e.status(), 0xE0) << "step " << k;
            EXPECT_EQ(e.delta, k == 0 ? c.firstDelta : 1u) << "step " << k;
            EXPECT_EQ(e.bend(), c.first + int(k) * c.increment) << "step " << k;
            elapsed += e.delta;
        }
        EXPECT_EQ(tail[2].data1(), c.first & 0x7F);
        EXPECT_EQ(tail[2 + c.steps - 1].bend(), c.last);
        // The note off comes last and keeps its list time.
        const auto &noteOff = tail.back();
        EXPECT_EQ(noteOff.word, 0x90u | 60 << 8);
        EXPECT_EQ(elapsed + noteOff.delta, c.duration);
    }
    // The ramp follows the note off's channel.
    Generator percussion;
    percussion.setPitchBend(10);
    percussion.setInstrument(TMidiGen::mgCowbell);
    assembleNote(percussion, 60);
    EXPECT_EQ(body(percussion)[2].status(), 0xE9);
}

TEST(Encoding, NoRampWhereNoneFits)
{
    const auto bends = [](const Generator &generator) {
        std::size_t count = 0;
        for (const auto &e : events(generator))
            count += (e.status() & 0xF0) == 0xE0;
        return count;
    };
    const auto bent = [](qint32 delay, qint32 span) {
        auto generator = std::make_unique<Generator>();
        generator->setPitchBend(60);
        generator->setPBDelay(delay);
        generator->setPBDuration(span);
        return generator;
    };
    auto delayed = bent(100, 100);
    assembleNote(*delayed, 60);
    EXPECT_EQ(bends(*delayed), 0u) << "PBDelay 100";
    auto spanless = bent(0, 0);
    assembleNote(*spanless, 60);
    EXPECT_EQ(bends(*spanless), 0u) << "PBDuration 0";
    auto forbidden = bent(0, 100);
    forbidden->AssembleStream({{0, On, 60, 0}, {50, Off, 60, 0}}, false);
    EXPECT_EQ(bends(*forbidden), 0u) << "bend not allowed";
    auto short_ = bent(0, 1);
    short_->AssembleStream({{0, On, 60, 0}, {50, Off, 60, 0}}, true);
    EXPECT_EQ(bends(*short_), 0u) << "fewer than one step";

    // Tried once, at the first note off: with delta 0 no later note off gets one.
    auto once = bent(0, 100);
    once->AssembleStream({{0, On, 60, 0}, {0, Off, 60, 0}, {100, On, 62, 0}, {150, Off, 62, 0}},
                         true);
    EXPECT_EQ(bends(*once), 0u) << "first note off at delta 0";
    auto later = bent(0, 100);
    later->AssembleStream({{0, On, 60, 0}, {20, Off, 60, 0}, {100, On, 62, 0}, {150, Off, 62, 0}},
                          true);
    EXPECT_EQ(bends(*later), 20u) << "only the first note off";
}

TEST(Encoding, StreamStopsAtItsSizeLimit)
{
    EventList list;
    for (std::int32_t i = 0; i < 6000; ++i)
        list.push_back({i, On, i % 128, 0});
    Generator generator;
    generator.AssembleStream(list, true);
    EXPECT_EQ(generator.streamBuffer().size(), 65532u);
    const auto all = events(generator);
    ASSERT_EQ(all.size(), 5461u);
    // 15 preamble events and the opening program change, then list events 0..5444.
    EXPECT_EQ(all.back().data1(), 5444 % 128);
    EXPECT_EQ(all.back().delta, 1u);
    EXPECT_FALSE(generator.AppendEvent(0, 0x90));
    EXPECT_EQ(generator.streamBuffer().size(), 65532u);

    // Assembly appends to what the buffer holds; a play request starts from an empty one.
    Generator twice;
    twice.AssembleStream({{0, On, 60, 0}}, true);
    twice.AssembleStream({{0, On, 60, 0}}, true);
    EXPECT_EQ(events(twice).size(), 34u);
    assembleNote(twice, 60);
    EXPECT_EQ(events(twice).size(), 18u);
}

TEST(Encoding, PlayStringEncodesTheParsedList)
{
    Generator played;
    played.setModulation(100);
    played.setSustain(true);
    played.setDuration(400);
    played.setPitchBend(60); // the jingle's flag is false: no ramp all the same
    ASSERT_TRUE(assembleString(played, "I94,G3,100;I31,50;G4,B,G,G3,D4"));
    EXPECT_EQ(played.streamBuffer().size(), 348u);
    const auto tail = body(played);
    ASSERT_EQ(tail.size(), 14u);
    EXPECT_EQ(tail[0].word, 0xC0u | 94 << 8);
    EXPECT_EQ(tail[2].delta, 100u);
    EXPECT_EQ(tail[13].word, 0x90u | 50 << 8);

    // The play channel reaches the parser, and a true flag lets the ramp in.
    Generator bent;
    bent.setChannel(TMidiGen::mgCh03);
    bent.setPitchBend(60);
    assembleString(bent, "C");
    const auto bentTail = body(bent);
    ASSERT_EQ(bentTail.size(), 3u + 50);
    EXPECT_EQ(bentTail[1].word, 0x92u | 48 << 8 | 127 << 16);
    EXPECT_EQ(bentTail[2].status(), 0xE2);

    // An empty list is not assembled.
    Generator silent;
    EXPECT_FALSE(assembleString(silent, "  ,, "));
    EXPECT_TRUE(silent.streamBuffer().empty());
}
