#pragma once

// The verbs of the midigen tool. To add one: write its function (in a Verbs*.cpp file of its
// group), declare it below and add a row to the table in Verbs.cpp.

#include "Options.h"

#include <midigen/CompiledRequest.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdio>
#include <stdexcept>
#include <vector>

class TMidiGen;

namespace tool
{

// A verb that could not do its work (nothing to play, a file that cannot be written). The tool
// prints the message on one line and exits with status 1.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QByteArray &message) : std::runtime_error(message.toStdString()) {}
};

// Runs a verb with the words that follow the verb's own words; returns the exit status.
// Throws UsageError for bad arguments.
using VerbFunction = int (*)(const Options &options, const QList<QByteArray> &arguments);

struct Verb {
    QList<QByteArray> words; // e.g. {"dump", "note"}
    const char *synopsis; // arguments and options after the words, e.g. "N [--set NAME=VALUE]..."
    const char *description; // what it does, one or more lines of text
    VerbFunction run;
    bool takesText = false; // the one argument after the words is a text, taken as it stands
    QList<QByteArray> options = {"set"}; // the options it reads, besides --help and --version
};

// Every verb, in the order the help lists them.
const std::vector<Verb> &AllVerbs();

// The verb whose words begin words. Throws UsageError naming the unknown verb.
const Verb &FindVerb(const QList<QByteArray> &words);

// Whether words are exactly the words of a verb that takes a text: the argument after them is
// that text, also when it looks like an option.
bool TextFollows(const QList<QByteArray> &words);

// Throws UsageError for an option of options that verb does not read.
void CheckOptions(const Verb &verb, const Options &options);

// Writes the help text describing every verb and option to out.
void PrintHelp(std::FILE *out);

// Writes "midigen VERSION" (the project's version) to out.
void PrintVersion(std::FILE *out);

// dump note N: prints the stream buffer that PlayNote(N) assembles.
int DumpNote(const Options &options, const QList<QByteArray> &arguments);

// dump string TEXT: prints the stream buffer that PlayString(TEXT) assembles.
int DumpString(const Options &options, const QList<QByteArray> &arguments);

// list string TEXT: prints the sorted event list of TEXT and the bend-allowed flag.
int ListString(const Options &options, const QList<QByteArray> &arguments);

// devices: lists the output devices.
int Devices(const Options &options, const QList<QByteArray> &arguments);

// play note N / play string TEXT: plays on a device until the stream has closed.
int PlayNoteVerb(const Options &options, const QList<QByteArray> &arguments);
int PlayStringVerb(const Options &options, const QList<QByteArray> &arguments);

// render note N OUT / render string TEXT OUT: renders offline into a sound file (see
// SoundFormats.h).
int RenderNote(const Options &options, const QList<QByteArray> &arguments);
int RenderString(const Options &options, const QList<QByteArray> &arguments);

// export note N OUT.mid / export string TEXT OUT.mid: writes one pass of the stream as a
// Standard MIDI File.
int ExportNote(const Options &options, const QList<QByteArray> &arguments);
int ExportString(const Options &options, const QList<QByteArray> &arguments);

// What PlayNote plays for the note number noteText with the settings of options; UsageError
// when noteText is not a decimal 32-bit number.
TMGCompiledRequest NoteRequestStream(const Options &options, const QByteArray &noteText);

// number in decimal with thousands separators: 148,398,306.
QByteArray WithSeparators(qint64 number);

// The play string that argument gives: the argument as it stands, or for "-" all of standard
// input. UsageError for an input past its bound, Failure when it cannot be read.
QByteArray PlayStringText(const QByteArray &argument);

// The output file argument ("-" is standard output); UsageError when it is empty.
const QByteArray &OutputPath(const QByteArray &argument);

// Writes a verb's whole output to path (see WriteOutput); Failure naming path when it cannot.
void WriteOutputFile(const QByteArray &path, QByteArrayView bytes);

// What PlayString(text) plays with the settings of generator (its stream empty for a play string
// without a note, as PlayString then plays nothing). When the stream's size limit leaves notes
// out, says on stderr how many.
TMGCompiledRequest StringRequestStream(const TMidiGen &generator, const QByteArray &text);

// Prints a stream buffer: one stream event a line, its 12 bytes in buffer order as two-digit
// upper-case hexadecimal separated by blanks, then "events E bytes B".
void PrintStreamBuffer(std::FILE *out, QByteArrayView buffer);

} // namespace tool
