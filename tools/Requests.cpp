// What the verbs are given: the play string (an argument or standard input), the output path,
// and the stream a play string becomes.

#include "Verbs.h"

#include "OutputFile.h"
#include "SettingsOf.h"

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>

#include <QLocale>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace tool
{

namespace
{

// A play string read from standard input longer than this is refused: a stream holds a few
// thousand notes, and this bounds what a mistaken redirection (from /dev/zero) can take.
constexpr qsizetype MaxInputBytes = 16 * 1024 * 1024;

QByteArray readStandardInput()
{
    QByteArray text;
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, block, sizeof block);
        if (got == 0)
            return text;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Failure("cannot read the play string from standard input: " +
                          QByteArray(std::strerror(errno)));
        }
        if (text.size() + got > MaxInputBytes)
            throw UsageError("the play string on standard input is longer than " +
                             WithSeparators(MaxInputBytes) + " bytes");
        text.append(block, got);
    }
}

// Note ons (with a velocity) and note offs (note ons without one) of a stream buffer.
std::pair<qsizetype, qsizetype> notesOf(const midigen::StreamBuffer &buffer)
{
    qsizetype ons = 0, offs = 0;
    for (std::size_t offset = 0; offset + midiout::StreamEvent::Size <= buffer.size();
         offset += midiout::StreamEvent::Size) {
        const auto event = midiout::StreamEvent::decode(buffer.data() + offset);
        if (event.isShortMessage() &&
            (event.status() & midiout::StatusKindMask) == midiout::NoteOnStatus)
            ++(event.data2() != 0 ? ons : offs);
    }
    return {ons, offs};
}

} // namespace

QByteArray WithSeparators(qint64 number)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(number).toUtf8();
}

QByteArray PlayStringText(const QByteArray &argument)
{
    return argument == "-" ? readStandardInput() : argument;
}

const QByteArray &OutputPath(const QByteArray &argument)
{
    if (argument.isEmpty())
        throw UsageError("the output file name is empty (- is standard output)");
    return argument;
}

void WriteOutputFile(const QByteArray &path, QByteArrayView bytes)
{
    const QByteArray error = WriteOutput(path, bytes);
    if (!error.isEmpty())
        throw Failure("cannot write " + (path == "-" ? QByteArray("standard output") : path) +
                      ": " + error);
}

StringStream StringRequestStream(const TMidiGen &generator, const QByteArray &text)
{
    StringStream stream;
    stream.bendAllowed =
        midigen::ParsePlayString(text, midigen::ParseSettingsOf(generator), stream.list);
    // PlayString hands nothing to the device for a list that comes out empty.
    if (stream.list.empty())
        return stream;
    stream.buffer = midigen::EncodeStream(stream.list, midigen::EncodeSettingsOf(generator),
                                          stream.bendAllowed);
    // The encoder drops what passes the buffer's limit: notes, or the ends of notes begun.
    qsizetype notes = 0, ends = 0;
    for (const midigen::NoteEvent &event : stream.list) {
        notes += event.kind == midigen::NoteOn ? 1 : 0;
        ends += event.kind == midigen::NoteOff ? 1 : 0;
    }
    const auto [ons, offs] = notesOf(stream.buffer);
    QByteArrayList lost;
    if (ons < notes)
        lost.append(WithSeparators(notes - ons) + " of its " + WithSeparators(notes) +
                    " notes are left out");
    if (const qsizetype unended = ends - offs - (notes - ons); unended > 0)
        lost.append(unended == 1 ? QByteArray("1 note played has no end")
                                 : WithSeparators(unended) + " notes played have no end");
    if (!lost.isEmpty())
        std::fprintf(
            stderr, "midigen: the tune is cut at the stream's limit of %s events: %s\n",
            WithSeparators(midigen::MaxStreamBytes / midiout::StreamEvent::Size).constData(),
            lost.join(", and ").constData());
    return stream;
}

} // namespace tool
