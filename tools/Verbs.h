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
const std::vector<Verb> &allVerbs();

// The verb whose words begin words. Throws UsageError naming the unknown verb.
const Verb &findVerb(const QList<QByteArray> &words);

// Whether words are exactly the words of a verb that takes a text: the argument after them is
// that text, also when it looks like an option.
bool textFollows(const QList<QByteArray> &words);

// Throws UsageError for an option of options that verb does not read.
void checkOptions(const Verb &verb, const Options &options);

// Writes the help text describing every verb and option to out.
void printHelp(std::FILE *out);

// Writes "midigen VERSION" (the project's version) to out.
void printVersion(std::FILE *out);

// dump note N: prints the stream buffer that PlayNote(N) assembles.
int dumpNote(const Options &options, const QList<QByteArray> &arguments);

// dump string TEXT: prints the stream buffer that PlayString(TEXT) assembles.
int dumpString(const Options &options, const QList<QByteArray> &arguments);

// list string TEXT: prints the sorted event list of TEXT and the bend-allowed flag.
int listString(const Options &options, const QList<QByteArray> &arguments);

// devices: lists the output devices.
int devices(const Options &options, const QList<QByteArray> &arguments);

// play note N / play string TEXT: plays on a device until the stream has closed.
int playNoteVerb(const Options &options, const QList<QByteArray> &arguments);
int playStringVerb(const Options &options, const QList<QByteArray> &arguments);

// render note N OUT / render string TEXT OUT: renders offline into a sound file (see
// SoundFormats.h).
int renderNote(const Options &options, const QList<QByteArray> &arguments);
int renderString(const Options &options, const QList<QByteArray> &arguments);

// export note N OUT.mid / export string TEXT OUT.mid: writes one pass of the stream as a
// Standard MIDI File.
int exportNote(const Options &options, const QList<QByteArray> &arguments);
int exportString(const Options &options, const QList<QByteArray> &arguments);

// What PlayNote plays for the note number noteText with the settings of options; UsageError
// when noteText is not a decimal 32-bit number.
TMGCompiledRequest noteRequestStream(const Options &options, const QByteArray &noteText);

// number in decimal with thousands separators: 148,398,306.
QByteArray withSeparators(qint64 number);

// The play string that argument gives: the argument as it stands, or for "-" all of standard
// input. UsageError for an input past its bound, Failure when it cannot be read.
QByteArray playStringText(const QByteArray &argument);

// The output file argument ("-" is standard output); UsageError when it is empty.
const QByteArray &outputPath(const QByteArray &argument);

// Writes a verb's whole output to path (see writeOutput); Failure naming path when it cannot.
void writeOutputFile(const QByteArray &path, QByteArrayView bytes);

// What PlayString(text) plays with the settings of generator (its stream empty for a play string
// without a note, as PlayString then plays nothing). When the stream's size limit leaves notes
// out, says on stderr how many.
TMGCompiledRequest stringRequestStream(const TMidiGen &generator, const QByteArray &text);

// Prints a stream buffer: one stream event a line, its 12 bytes in buffer order as two-digit
// upper-case hexadecimal separated by blanks, then "events E bytes B".
void printStreamBuffer(std::FILE *out, QByteArrayView buffer);

} // namespace tool
