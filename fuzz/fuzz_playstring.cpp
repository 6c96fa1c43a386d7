// Fuzz target: arbitrary bytes through the play-string parser and the stream encoder.
//
// Input: the first SettingsBytes bytes choose the settings, the rest is the play string. The
// settings go through the tone generator's setters (so they are clamped as a user's would be)
// and, unclamped, straight to the parser as well. Every list is checked for the properties the
// encoder relies on, then encoded.

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/Output.h>
#include <midigen/PlayStringParser.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

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

// Encoding needs no device; this output has none, so nothing can start to sound.
class NoOutput final : public midiout::Output
{
public:
    int deviceCount() override { return 0; }
    QString deviceName(int) override { return {}; }
    bool probe(int) override { return false; }
    std::unique_ptr<midiout::Stream> open(int, QObject *) override { return nullptr; }
};

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
    // One component for the whole run, as in the program.
    static NoOutput output;
    static TMidiGen *generator = new TMidiGen(output);

    generator->setOctave(static_cast<std::int8_t>(data[0]));
    generator->setDuration(word(data + 1));
    generator->setInstrument(static_cast<TMidiGen::TMGInstrument>(data[5]));
    generator->setChannel(static_cast<TMidiGen::TMGChannel>(data[6]));
    generator->setPitchBend(static_cast<std::int8_t>(data[7]));
    generator->setPBDelay(data[8]);
    generator->setPBDuration(data[9]);
    generator->setSustain(data[10] & 1);
    generator->setModulation(data[10] >> 1);
    const QByteArray text(reinterpret_cast<const char *>(data + SettingsBytes),
                          static_cast<qsizetype>(size - SettingsBytes));

    // As a play request parses: the component's settings, Channel as the play channel.
    midigen::EventList list;
    const bool bendAllowed = generator->ParsePlayString(text, list);
    checkList(list);
    if (!list.empty()) {
        generator->releaseStreamBuffer();
        generator->AssembleStream(std::move(list), bendAllowed);
        const std::size_t bytes = generator->streamBuffer().size();
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
