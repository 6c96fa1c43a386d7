// The export verbs: what a play request plays, written as a Standard MIDI File.

#include "Verbs.h"

#include "Settings.h"

#include <midigen/MidiGen.h>

namespace tool
{

namespace
{

// The file of a request's stream written to path; exit status 2 when the stream cannot be a
// file.
int exportStream(const TMGCompiledRequest &request, const QByteArray &path)
{
    QString whyNot;
    const QByteArray file = request.StandardMidiFile(&whyNot);
    if (file.isEmpty())
        throw UsageError("cannot export: " + whyNot.toUtf8());
    writeOutputFile(path, file);
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
    outputPath(arguments[1]);
}

} // namespace

int exportNote(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export note", "a note number");
    return exportStream(noteRequestStream(options, arguments[0]), arguments[1]);
}

int exportString(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export string", "a play string");
    TMidiGen generator;
    applySettings(generator, options);
    const TMGCompiledRequest request = stringRequestStream(generator, playStringText(arguments[0]));
    // PlayString plays nothing for an empty list, so there is nothing to write either.
    if (request.Stream().isEmpty())
        throw Failure("nothing exported: the play string holds no event");
    return exportStream(request, arguments[1]);
}

} // namespace tool
