// The export verbs: what a play request plays, written as a Standard MIDI File.

#include "Verbs.h"

#include "Settings.h"
#include "StandardMidiFile.h"

#include "PlayStringParser.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>

namespace tool
{

namespace
{

// The file of one stream buffer written to path; exit status 2 when the stream cannot be a file.
int exportStream(const std::vector<std::uint8_t> &streamBuffer, const QByteArray &path)
{
    std::vector<std::uint8_t> file;
    try {
        file = StandardMidiFile(streamBuffer);
    } catch (const FileFormatError &error) {
        throw UsageError(QByteArray("cannot export: ") + error.what());
    }
    WriteOutputFile(path, QByteArrayView(file.data(), qsizetype(file.size())));
    return 0;
}

// The two arguments after the verb's words: what to play and the output file.
void checkArguments(const QList<QByteArray> &arguments, const char *verb, const char *what)
{
    if (arguments.isEmpty())
        throw UsageError(QByteArray(verb) + " needs " + what);
    if (arguments.size() < 2)
        throw UsageError(QByteArray(verb) + " needs an output file");
    if (arguments.size() > 2)
        throw UsageError("unexpected argument: " + arguments[2]);
    OutputPath(arguments[1]);
}

} // namespace

int ExportNote(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export note", "a note number");
    return exportStream(NoteRequestStream(options, arguments[0]), arguments[1]);
}

int ExportString(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export string", "a play string");
    TMidiGen generator;
    ApplySettings(generator, options);
    const StringStream stream = StringRequestStream(generator, PlayStringText(arguments[0]));
    // PlayString plays nothing for an empty list, so there is nothing to write either.
    if (stream.list.empty())
        throw Failure("nothing exported: the play string holds no note");
    return exportStream(stream.buffer, arguments[1]);
}

} // namespace tool
