// The dump verbs: stream buffers printed as text.

#include "Verbs.h"

#include "Settings.h"

#include <midigen/MidiGen.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tool
{

void printStreamBuffer(std::FILE *out, QByteArrayView buffer)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    constexpr qsizetype Size = TMGCompiledRequest::StreamEventSize;
    std::string text;
    text.reserve(std::size_t(buffer.size()) * 3 + 32);
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        const auto byte = std::uint8_t(buffer[i]);
        text += Hex[byte >> 4];
        text += Hex[byte & 0x0F];
        text += (i + 1) % Size == 0 ? '\n' : ' ';
    }
    std::fputs(text.c_str(), out);
    std::fprintf(out, "events %lld bytes %lld\n", static_cast<long long>(buffer.size() / Size),
                 static_cast<long long>(buffer.size()));
}

TMGCompiledRequest noteRequestStream(const Options &options, const QByteArray &noteText)
{
    const auto note = parseDecimal(noteText, std::numeric_limits<qint32>::min(),
                                   std::numeric_limits<qint32>::max());
    if (!note)
        throw UsageError("invalid note number: " + noteText);

    TMidiGen generator;
    applySettings(generator, options);
    // No stream is started here; the compiled stream is what PlayNote gives a device.
    return generator.CompileNote(qint32(*note));
}

int dumpNote(const Options &options, const QList<QByteArray> &arguments)
{
    if (arguments.isEmpty())
        throw UsageError("dump note needs a note number");
    if (arguments.size() > 1)
        throw UsageError("unexpected argument: " + arguments[1]);
    printStreamBuffer(stdout, noteRequestStream(options, arguments[0]).Stream());
    return 0;
}

} // namespace tool
