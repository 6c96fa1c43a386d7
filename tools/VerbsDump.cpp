// The dump verbs: stream buffers printed as text.

#include "Verbs.h"

#include "Settings.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <limits>
#include <string>

namespace tool
{

void PrintStreamBuffer(std::FILE *out, const std::vector<std::uint8_t> &buffer)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(buffer.size() * 3 + 32);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        text += Hex[buffer[i] >> 4];
        text += Hex[buffer[i] & 0x0F];
        text += (i + 1) % midiout::StreamEvent::Size == 0 ? '\n' : ' ';
    }
    std::fputs(text.c_str(), out);
    std::fprintf(out, "events %zu bytes %zu\n", buffer.size() / midiout::StreamEvent::Size,
                 buffer.size());
}

std::vector<std::uint8_t> NoteRequestStream(const Options &options, const QByteArray &noteText)
{
    const auto note = ParseDecimal(noteText, std::numeric_limits<qint32>::min(),
                                   std::numeric_limits<qint32>::max());
    if (!note)
        throw UsageError("invalid note number: " + noteText);

    TMidiGen generator;
    ApplySettings(generator, options);
    // No stream is started here; the encoded buffer is what PlayNote gives a device.
    const midigen::EncodeSettings settings = midigen::EncodeSettingsOf(generator);
    const midigen::EventList list = midigen::NoteList(qint32(*note), settings.instrument,
                                                      settings.playChannel, generator.Duration());
    return midigen::EncodeStream(list, settings, true);
}

int DumpNote(const Options &options, const QList<QByteArray> &arguments)
{
    if (arguments.isEmpty())
        throw UsageError("dump note needs a note number");
    if (arguments.size() > 1)
        throw UsageError("unexpected argument: " + arguments[1]);
    PrintStreamBuffer(stdout, NoteRequestStream(options, arguments[0]));
    return 0;
}

} // namespace tool
