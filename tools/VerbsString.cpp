// The string verbs: what a play string turns into, as a stream buffer or as its sorted event
// list.

#include "Verbs.h"

#include "Settings.h"

#include <midigen/MidiGen.h>

#include <string>

namespace tool
{

namespace
{

// The play string: the one argument after the verb's words, or standard input for "-".
QByteArray playStringArgument(const QList<QByteArray> &arguments, const char *verb)
{
    if (arguments.isEmpty())
        throw UsageError(QByteArray(verb) + " needs a play string");
    if (arguments.size() > 1)
        throw UsageError("unexpected argument: " + arguments[1]);
    return playStringText(arguments[0]);
}

} // namespace

int dumpString(const Options &options, const QList<QByteArray> &arguments)
{
    TMidiGen generator;
    applySettings(generator, options);
    const QByteArray text = playStringArgument(arguments, "dump string");
    // What PlayString hands to the device, without starting a stream.
    printStreamBuffer(stdout, stringRequestStream(generator, text).Stream());
    return 0;
}

int listString(const Options &options, const QList<QByteArray> &arguments)
{
    TMidiGen generator;
    applySettings(generator, options);
    const QByteArray text = playStringArgument(arguments, "list string");
    // Compiled as a play request of this generator compiles it, with Channel as the play
    // channel.
    const TMGCompiledRequest request = generator.CompileString(text);
    const QList<TMGNoteEvent> events = request.Events();

    std::string out;
    for (const TMGNoteEvent &event : events) {
        out += std::to_string(event.time) + ' ' + std::to_string(event.kind) + ' ' +
               std::to_string(event.value) + ' ' + std::to_string(event.channel) + '\n';
    }
    out += request.BendAllowed() ? "flag true\n" : "flag false\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

} // namespace tool
