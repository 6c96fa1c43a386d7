// What the verbs are given: the play string (an argument or standard input), the output path,
// and the stream a play string becomes.

#include "Verbs.h"

#include "OutputFile.h"

#include <midigen/MidiGen.h>

#include <QLocale>

#include <algorithm>
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
                             withSeparators(MaxInputBytes) + " bytes");
        text.append(block, got);
    }
}

} // namespace

QByteArray withSeparators(qint64 number)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(number).toUtf8();
}

QByteArray playStringText(const QByteArray &argument)
{
    return argument == "-" ? readStandardInput() : argument;
}

const QByteArray &outputPath(const QByteArray &argument)
{
    if (argument.isEmpty())
        throw UsageError("the output file name is empty (- is standard output)");
    return argument;
}

void writeOutputFile(const QByteArray &path, QByteArrayView bytes)
{
    const QByteArray error = writeOutput(path, bytes);
    if (!error.isEmpty())
        throw Failure("cannot write " + (path == "-" ? QByteArray("standard output") : path) +
                      ": " + error);
}

TMGCompiledRequest stringRequestStream(const TMidiGen &generator, const QByteArray &text)
{
    const TMGCompiledRequest request = generator.CompileString(text);
    QByteArrayList lost;
    if (const qsizetype leftOut = request.NotesLeftOut(); leftOut > 0) {
        const QList<TMGNoteEvent> events = request.Events();
        const auto notes = std::count_if(events.begin(), events.end(), [](const TMGNoteEvent &e) {
            return e.kind == TMGNoteEvent::mgNoteOn;
        });
        lost.append(withSeparators(leftOut) + " of its " + withSeparators(notes) +
                    " notes are left out");
    }
    if (const qsizetype unended = request.NoteEndsLost(); unended > 0)
        lost.append(unended == 1 ? QByteArray("1 note played has no end")
                                 : withSeparators(unended) + " notes played have no end");
    if (!lost.isEmpty())
        std::fprintf(stderr, "midigen: the tune is cut at the stream's limit of %s events: %s\n",
                     withSeparators(TMGCompiledRequest::MaxStreamEvents).constData(),
                     lost.join(", and ").constData());
    return request;
}

} // namespace tool
