#include "Verbs.h"

#include "Settings.h"
#include "SoundFormats.h"
#include "Version.h"

namespace tool
{

const std::vector<Verb> &allVerbs()
{
    static const std::vector<Verb> verbs = {
        {.words = {"dump", "note"},
         .synopsis = "N [--set NAME=VALUE]...",
         .description =
             "Prints the stream buffer that PlayNote(N) assembles: one stream event a line,\n"
             "its 12 bytes in buffer order as upper-case hexadecimal, then \"events E bytes B\".\n"
             "N is a note number (out of 0..127 it is limited as PlayNote limits it).",
         .run = dumpNote},
        {.words = {"dump", "string"},
         .synopsis = "TEXT [--set NAME=VALUE]...",
         .description =
             "Prints the stream buffer that PlayString(TEXT) assembles, as dump note does; a\n"
             "list that comes out empty prints only \"events 0 bytes 0\". TEXT is the one\n"
             "argument after \"string\", taken as it stands, also when it begins with \"-\" or\n"
             "is empty; \"-\" alone is standard input (see Input and output).",
         .run = dumpString,
         .takesText = true},
        {.words = {"list", "string"},
         .synopsis = "TEXT [--set NAME=VALUE]...",
         .description =
             "Prints the sorted event list of the play string TEXT, one \"time kind value\n"
             "channel\" line per event in decimal, then \"flag true\" or \"flag false\" (the\n"
             "bend-allowed flag). TEXT is taken as for dump string.",
         .run = listString,
         .takesText = true},
        {.words = {"devices"},
         .synopsis = "",
         .description =
             "Lists the output devices as they are now, one \"NUMBER NAME\" line each:\n"
             "device 0 is the built-in synthesizer, named with its SoundFont; the others are\n"
             "the MIDI inputs of the PipeWire graph (instruments, software synthesizers),\n"
             "named \"node:port (description)\".",
         .run = devices,
         .options = {}},
        {.words = {"play", "note"},
         .synopsis = "N [--device D] [--soundfont FILE] [--set NAME=VALUE]...",
         .description =
             "Plays PlayNote(N) on device D (default -1, the built-in synthesizer) and returns\n"
             "when the stream has closed. Exit status 1 with the reason (no SoundFont, no\n"
             "sound server, a device that cannot be opened) when nothing could be played.\n"
             "SIGINT or SIGTERM stops the stream first, so that the device gets its reset\n"
             "(every note off, the controllers reset), then ends the tool with status 130 or\n"
             "143.",
         .run = playNoteVerb,
         .options = {"set", "device", "soundfont"}},
        {.words = {"play", "string"},
         .synopsis = "TEXT [--device D] [--soundfont FILE] [--set NAME=VALUE]...",
         .description =
             "Plays PlayString(TEXT) as play note does; TEXT is taken as for dump string.",
         .run = playStringVerb,
         .takesText = true,
         .options = {"set", "device", "soundfont"}},
        {.words = {"render", "note"},
         .synopsis = "N OUT [--format NAME] [--soundfont FILE] [--set NAME=VALUE]...",
         .description =
             "Renders PlayNote(N) through the built-in synthesizer offline, faster than real\n"
             "time, until the stream has closed and the sound has died away, into the sound\n"
             "file OUT (44,100 Hz, stereo), written as Input and output says, in the format\n"
             "that --format names, else the one of OUT's suffix, else WAV (see Sound files).\n"
             "A render that runs for more than a second shows its progress on standard error\n"
             "when that is a terminal. Exit status 1 and nothing written when nothing could be\n"
             "rendered.",
         .run = renderNote,
         .options = {"set", "format", "soundfont"}},
        {.words = {"render", "string"},
         .synopsis = "TEXT OUT [--format NAME] [--soundfont FILE] [--set NAME=VALUE]...",
         .description =
             "Renders PlayString(TEXT) as render note does; TEXT is taken as for dump string.",
         .run = renderString,
         .takesText = true,
         .options = {"set", "format", "soundfont"}},
        {.words = {"export", "note"},
         .synopsis = "N OUT.mid [--set NAME=VALUE]...",
         .description =
             "Writes what PlayNote(N) plays into OUT.mid as a Standard MIDI File: format 0,\n"
             "50 ticks per quarter note and no tempo event, so that one tick is 10 ms as in\n"
             "the stream; the stream's events in buffer order with their delta times, then\n"
             "the end of the track. One pass only: Loops is ignored. OUT.mid is written as\n"
             "Input and output says.",
         .run = exportNote},
        {.words = {"export", "string"},
         .synopsis = "TEXT OUT.mid [--set NAME=VALUE]...",
         .description =
             "Writes what PlayString(TEXT) plays, as export note does; TEXT is taken as for\n"
             "dump string. Exit status 1 and nothing written when TEXT yields no event.",
         .run = exportString,
         .takesText = true},
    };
    return verbs;
}

const Verb &findVerb(const QList<QByteArray> &words)
{
    if (words.isEmpty())
        throw UsageError("missing verb (see midigen --help)");
    const Verb *best = nullptr;
    for (const Verb &verb : allVerbs()) {
        if (words.size() >= verb.words.size() && words.mid(0, verb.words.size()) == verb.words &&
            (!best || verb.words.size() > best->words.size()))
            best = &verb;
    }
    if (best)
        return *best;
    // Name the verb as far as it was given: the first word, and the second when the first one
    // begins a known verb.
    QByteArray name = words.first();
    for (const Verb &verb : allVerbs()) {
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

// One line for each sound format: its name and the suffixes that choose it.
QByteArray formatTable()
{
    QByteArray table;
    for (const SoundFormat &format : writableSoundFormats()) {
        QByteArray suffixes;
        for (const QByteArray &suffix : format.suffixes)
            suffixes += (suffixes.isEmpty() ? "." : ", .") + suffix;
        table += "    " + format.name.leftJustified(8) + format.title.leftJustified(14) + suffixes +
                 '\n';
    }
    return table;
}

} // namespace

bool textFollows(const QList<QByteArray> &words)
{
    for (const Verb &verb : allVerbs()) {
        if (verb.takesText && verb.words == words)
            return true;
    }
    return false;
}

void checkOptions(const Verb &verb, const Options &options)
{
    for (const Option &option : options.options) {
        if (!verb.options.contains(option.name))
            throw UsageError(verb.words.join(' ') + " takes no option --" + option.name);
    }
}

void printHelp(std::FILE *out)
{
    std::fputs("Usage: midigen VERB [ARGUMENT]... [OPTION]...\n"
               "Command-line front of the tone generator.\n\nVerbs:\n",
               out);
    for (const Verb &verb : allVerbs()) {
        std::fprintf(out, "  midigen %s %s\n", verb.words.join(' ').constData(), verb.synopsis);
        QByteArray description(verb.description);
        description.replace("\n", "\n      ");
        std::fprintf(out, "      %s\n\n", description.constData());
    }
    std::fputs(
        "Input and output:\n"
        "  A play string TEXT of \"-\" alone is read from standard input, whole (the note\n"
        "  name \"-\" alone is given as \" -\"). An output file OUT of \"-\" is standard\n"
        "  output. The whole output is built before OUT is touched. An existing regular\n"
        "  file, or the file a symbolic link leads to, is replaced only by a complete new\n"
        "  one with its permissions; a FIFO, a device or a socket is written in place and\n"
        "  never replaced, and a FIFO that no process reads fails at once. File names are\n"
        "  taken as the bytes given, whatever their encoding.\n"
        "  A stream holds at most 5,461 events: a longer tune is cut as PlayString cuts it,\n"
        "  played or written so, and a line on stderr says how many notes were left out.\n\n",
        out);
    std::fprintf(
        out,
        "Sound files:\n"
        "  render writes 16-bit samples at 44,100 Hz in stereo, as they are, in lossless\n"
        "  FLAC, or compressed (Ogg Vorbis, MP3), through libsndfile. The formats by name\n"
        "  (for --format) and the suffixes that choose them (any case):\n%s"
        "  A name without one of these suffixes, and standard output, get WAV unless\n"
        "  --format says otherwise; a format whose sizes are 32-bit (WAV, AIFF and others)\n"
        "  holds about 6 h 45 min, and a longer render is refused.\n\n",
        formatTable().constData());
    std::fprintf(out,
                 "Options:\n"
                 "  --set NAME=VALUE  Writes a setting before the verb runs, through its setter,\n"
                 "                    which clamps what its type holds; a value outside the type\n"
                 "                    is bad input. NAME is one of:\n"
                 "%s"
                 "                    VALUE is a decimal number (32 bits, unsigned for Duration\n"
                 "                    and Loops); for Note, Instrument and Channel an enumeration\n"
                 "                    name (mgFsharp, mgViolin, mgCh10) or a number 0..255; for\n"
                 "                    Sustain true, false, 1 or 0.\n"
                 "  --device D        The output device of play: a number that devices lists,\n"
                 "                    -1 (the default) for the built-in synthesizer, or a\n"
                 "                    device's name as devices lists it, or its part before\n"
                 "                    \" (\": the \"node:port\" of an instrument, which stays\n"
                 "                    when numbers move. One that does not exist is bad input.\n"
                 "  --format NAME     The sound file format of render (see Sound files).\n"
                 "  --soundfont FILE  The SoundFont of the built-in synthesizer for play and\n"
                 "                    render, instead of the system's General MIDI SoundFont\n"
                 "                    (/usr/share/sounds/sf2/default-GM.sf2, else\n"
                 "                    /usr/share/sounds/sf3/default-GM.sf3, else another of\n"
                 "                    /usr/share/sounds/sf2). A FILE that is missing or no\n"
                 "                    SoundFont: exit status 1, nothing played or written.\n"
                 "  -h, --help        Prints this text.\n"
                 "  --version         Prints the version.\n\n"
                 "Exit status: 0 on success; 1 when a verb could not do its work and says why\n"
                 "(nothing to play, no SoundFont or sound server, a file that cannot be written\n"
                 "or read); 2 for bad input: an unknown verb, option, property, value or sound\n"
                 "format, an option the verb does not take, a missing, extra or empty argument,\n"
                 "a device that does not exist (the message lists the devices), or a request\n"
                 "that export cannot write; 130 or 143 when play was ended by SIGINT or\n"
                 "SIGTERM.\n",
                 wrapped(settingNames() + '.', QByteArray(20, ' '), 60).constData());
}

void printVersion(std::FILE *out)
{
    std::fprintf(out, "midigen %s\n", ProjectVersion);
}

} // namespace tool
