#include "Verbs.h"

#include "Settings.h"
#include "Version.h"

namespace tool
{

const std::vector<Verb> &AllVerbs()
{
    // Where a verb writes a file, what the help says of it.
#define OUTPUT_FILE_TEXT(OUT)                                                                      \
    "\n" OUT " - is standard output. An existing regular file " OUT " (or the file a\n"            \
    "symbolic link " OUT " leads to) is replaced only once the new one is complete, keeping\n"     \
    "its permissions; a FIFO or a device is written in place, and a FIFO that no process\n"        \
    "reads fails at once."
    static const std::vector<Verb> verbs = {
        {.words = {"dump", "note"},
         .synopsis = "N [--set NAME=VALUE]...",
         .description =
             "Prints the stream buffer that PlayNote(N) assembles: one stream event a line, its "
             "12\n"
             "bytes in buffer order as upper-case hexadecimal, then \"events E bytes B\". N is a\n"
             "note number (out of 0..127 it is limited as PlayNote limits it).",
         .run = DumpNote},
        {.words = {"dump", "string"},
         .synopsis = "TEXT [--set NAME=VALUE]...",
         .description =
             "Prints the stream buffer that PlayString(TEXT) assembles, as dump note does; a list\n"
             "that comes out empty prints only \"events 0 bytes 0\". TEXT is the one argument\n"
             "after \"string\", taken as it stands, also when it begins with \"-\" or is empty;\n"
             "\"-\" alone reads the play string from standard input. A stream holds at most\n"
             "5,461 events: a longer tune is cut as PlayString cuts it, and a line on stderr\n"
             "says how many notes were left out.",
         .run = DumpString,
         .takesText = true},
        {.words = {"list", "string"},
         .synopsis = "TEXT [--set NAME=VALUE]...",
         .description =
             "Prints the sorted event list of the play string TEXT, one \"time kind value "
             "channel\"\n"
             "line per event in decimal, then \"flag true\" or \"flag false\" (the bend-allowed\n"
             "flag). TEXT is taken as for dump string.",
         .run = ListString,
         .takesText = true},
        {.words = {"devices"},
         .synopsis = "",
         .description =
             "Lists the output devices, one \"NUMBER NAME\" line each; device 0 is the built-in\n"
             "synthesizer, named with its SoundFont.",
         .run = Devices,
         .options = {}},
        {.words = {"play", "note"},
         .synopsis = "N [--device D] [--set NAME=VALUE]...",
         .description =
             "Plays PlayNote(N) on device D (default -1, the built-in synthesizer) and returns "
             "when\n"
             "the stream has closed. Exit status 1 with the reason when nothing could be played.",
         .run = PlayNoteVerb,
         .options = {"set", "device"}},
        {.words = {"play", "string"},
         .synopsis = "TEXT [--device D] [--set NAME=VALUE]...",
         .description =
             "Plays PlayString(TEXT) as play note does; TEXT is taken as for dump string.",
         .run = PlayStringVerb,
         .takesText = true,
         .options = {"set", "device"}},
        {.words = {"render", "note"},
         .synopsis = "N OUT.wav [--set NAME=VALUE]...",
         .description =
             "Renders PlayNote(N) through the built-in synthesizer offline, faster than real "
             "time,\n"
             "until the stream has closed and the sound has died away, into OUT.wav (44,100 Hz,\n"
             "stereo, 16-bit)." OUTPUT_FILE_TEXT("OUT.wav") " Nothing is written when nothing\n"
                                                            "could be rendered.",
         .run = RenderNote},
        {.words = {"render", "string"},
         .synopsis = "TEXT OUT.wav [--set NAME=VALUE]...",
         .description =
             "Renders PlayString(TEXT) as render note does; TEXT is taken as for dump string.",
         .run = RenderString,
         .takesText = true},
        {.words = {"export", "note"},
         .synopsis = "N OUT.mid [--set NAME=VALUE]...",
         .description =
             "Writes what PlayNote(N) plays into OUT.mid as a Standard MIDI File: format 0, 50 "
             "ticks\n"
             "per quarter note and no tempo event, so that one tick is 10 ms as in the stream; "
             "the\n"
             "stream's events in buffer order with their delta times, then the end of the track.\n"
             "One pass only: Loops is ignored." OUTPUT_FILE_TEXT("OUT.mid"),
         .run = ExportNote},
        {.words = {"export", "string"},
         .synopsis = "TEXT OUT.mid [--set NAME=VALUE]...",
         .description =
             "Writes what PlayString(TEXT) plays, as export note does; TEXT is taken as for dump\n"
             "string. Exit status 1 and nothing written when TEXT holds no note.",
         .run = ExportString,
         .takesText = true},
    };
#undef OUTPUT_FILE_TEXT
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

void CheckOptions(const Verb &verb, const Options &options)
{
    for (const Option &option : options.options) {
        if (!verb.options.contains(option.name))
            throw UsageError(verb.words.join(' ') + " takes no option --" + option.name);
    }
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
                 "  --device D        The output device of play: a number that devices lists,\n"
                 "                    or -1 (the default) for the built-in synthesizer.\n"
                 "  -h, --help        Prints this text.\n"
                 "  --version         Prints the version.\n\n"
                 "Exit status: 0 on success; 1 when a verb could not do its work and says why\n"
                 "(nothing to play, no SoundFont or sound server, a file that cannot be written\n"
                 "or read); 2 for bad input: an unknown verb, option, property or value, an\n"
                 "option the verb does not take, a missing, extra or empty argument, or a\n"
                 "request that export cannot write.\n",
                 wrapped(SettingNames() + '.', QByteArray(20, ' '), 60).constData());
}

void PrintVersion(std::FILE *out)
{
    std::fprintf(out, "midigen %s\n", ProjectVersion);
}

} // namespace tool
