#include "Verbs.h"

#include "Settings.h"
#include "Version.h"

namespace tool
{

const std::vector<Verb> &AllVerbs()
{
    static const std::vector<Verb> verbs = {
        {{"dump", "note"},
         "N [--set NAME=VALUE]...",
         "Prints the stream buffer that PlayNote(N) assembles: one stream event a line, its 12\n"
         "bytes in buffer order as upper-case hexadecimal, then \"events E bytes B\". N is a\n"
         "note number (out of 0..127 it is limited as PlayNote limits it).",
         DumpNote},
        {{"dump", "string"},
         "TEXT [--set NAME=VALUE]...",
         "Prints the stream buffer that PlayString(TEXT) assembles, as dump note does; a list\n"
         "that comes out empty prints only \"events 0 bytes 0\". TEXT is the one argument\n"
         "after \"string\", taken as it stands, also when it begins with \"-\" or is empty.",
         DumpString,
         true},
        {{"list", "string"},
         "TEXT [--set NAME=VALUE]...",
         "Prints the sorted event list of the play string TEXT, one \"time kind value channel\"\n"
         "line per event in decimal, then \"flag true\" or \"flag false\" (the bend-allowed\n"
         "flag). TEXT is taken as for dump string.",
         ListString,
         true},
        {{"devices"},
         "",
         "Lists the output devices, one \"NUMBER NAME\" line each; device 0 is the built-in\n"
         "synthesizer, named with its SoundFont.",
         Devices},
        {{"play", "note"},
         "N [--device D] [--set NAME=VALUE]...",
         "Plays PlayNote(N) on device D (default -1, the built-in synthesizer) and returns when\n"
         "the stream has closed. Exit status 1 with the reason when nothing could be played.",
         PlayNoteVerb},
        {{"play", "string"},
         "TEXT [--device D] [--set NAME=VALUE]...",
         "Plays PlayString(TEXT) as play note does; TEXT is taken as for dump string.",
         PlayStringVerb,
         true},
        {{"render", "note"},
         "N OUT.wav [--set NAME=VALUE]...",
         "Renders PlayNote(N) through the built-in synthesizer offline, faster than real time,\n"
         "until the stream has closed and the sound has died away, into OUT.wav (44,100 Hz,\n"
         "stereo, 16-bit).",
         RenderNote},
        {{"render", "string"},
         "TEXT OUT.wav [--set NAME=VALUE]...",
         "Renders PlayString(TEXT) as render note does; TEXT is taken as for dump string.",
         RenderString,
         true},
        {{"export", "note"},
         "N OUT.mid [--set NAME=VALUE]...",
         "Writes what PlayNote(N) plays into OUT.mid as a Standard MIDI File: format 0, 50 ticks\n"
         "per quarter note and no tempo event, so that one tick is 10 ms as in the stream; the\n"
         "stream's events in buffer order with their delta times, then the end of the track.\n"
         "One pass only: Loops is ignored. An existing OUT.mid is replaced.",
         ExportNote},
        {{"export", "string"},
         "TEXT OUT.mid [--set NAME=VALUE]...",
         "Writes what PlayString(TEXT) plays, as export note does; TEXT is taken as for dump\n"
         "string. Exit status 1 and no file when TEXT holds no note.",
         ExportString,
         true},
    };
    return verbs;
}

const Verb &FindVerb(const QList<QByteArray> &words)
{
    if (words.isEmpty())
        throw UsageError("missing verb (see midigen --help)");
    const Verb *best = nullptr;
    for (const Verb &verb : AllVerbs()) {
        if (words.size() >= verb.words.size() && words.mid(0, verb.words.size()) == verb.words &&
            (!best || verb.words.size() > best->words.size()))
            best = &verb;
    }
    if (best)
        return *best;
    // Name the verb as far as it was given: the first word, and the second when the first one
    // begins a known verb.
    QByteArray name = words.first();
    for (const Verb &verb : AllVerbs()) {
        if (verb.words.first() == words.first() && words.size() > 1) {
            name += ' ' + words[1];
            break;
        }
    }
    throw UsageError("unknown verb: " + name);
}

namespace
{

// Words of text joined into lines of at most width characters, each after indent.
QByteArray wrapped(const QByteArray &text, const QByteArray &indent, qsizetype width)
{
    QByteArray result;
    QByteArray line;
    for (const QByteArray &word : text.split(' ')) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            result += indent + line + '\n';
            line.clear();
        }
        line += (line.isEmpty() ? QByteArray() : QByteArray(" ")) + word;
    }
    return result + indent + line + '\n';
}

} // namespace

bool TextFollows(const QList<QByteArray> &words)
{
    for (const Verb &verb : AllVerbs()) {
        if (verb.takesText && verb.words == words)
            return true;
    }
    return false;
}

void PrintHelp(std::FILE *out)
{
    std::fputs("Usage: midigen VERB [ARGUMENT]... [OPTION]...\n"
               "Command-line front of the tone generator.\n\nVerbs:\n",
               out);
    for (const Verb &verb : AllVerbs()) {
        std::fprintf(out, "  midigen %s %s\n", verb.words.join(' ').constData(), verb.synopsis);
        QByteArray description(verb.description);
        description.replace("\n", "\n      ");
        std::fprintf(out, "      %s\n\n", description.constData());
    }
    std::fprintf(out,
                 "Options:\n"
                 "  --set NAME=VALUE  Writes a setting before the verb runs, through its setter,\n"
                 "                    so out-of-range numbers are clamped. NAME is one of:\n"
                 "%s"
                 "                    VALUE is a decimal number; for Note, Instrument and Channel\n"
                 "                    also an enumeration name (mgFsharp, mgViolin, mgCh10) or a\n"
                 "                    number 0..255; for Sustain also true or false.\n"
                 "  -h, --help        Prints this text.\n"
                 "  --version         Prints the version.\n\n"
                 "Exit status: 0 on success, 1 when a verb could not do its work (it says why),\n"
                 "2 for an unknown verb, option, property or value, or a request that export\n"
                 "cannot write.\n",
                 wrapped(SettingNames() + '.', QByteArray(20, ' '), 60).constData());
}

void PrintVersion(std::FILE *out)
{
    std::fprintf(out, "midigen %s\n", ProjectVersion);
}

} // namespace tool
