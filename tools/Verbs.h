#pragma once

// The verbs of the midigen tool. To add one: write its function (in a Verbs*.cpp file of its
// group), declare it below and add a row to the table in Verbs.cpp.

#include "Options.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tool
{

// Runs a verb with the words that follow the verb's own words; returns the exit status.
// Throws UsageError for bad arguments.
using VerbFunction = int (*)(const Options &options, const QList<QByteArray> &arguments);

struct Verb {
    QList<QByteArray> words; // e.g. {"dump", "note"}
    const char *synopsis; // arguments and options after the words, e.g. "N [--set NAME=VALUE]..."
    const char *description; // what it does, one or more lines of text
    VerbFunction run;
    bool takesText = false; // the one argument after the words is a text, taken as it stands
};

// Every verb, in the order the help lists them.
const std::vector<Verb> &AllVerbs();

// The verb whose words begin words. Throws UsageError naming the unknown verb.
const Verb &FindVerb(const QList<QByteArray> &words);

// Whether words are exactly the words of a verb that takes a text: the argument after them is
// that text, also when it looks like an option.
bool TextFollows(const QList<QByteArray> &words);

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

// render note N OUT.wav / render string TEXT OUT.wav: renders offline into a WAV file.
int RenderNote(const Options &options, const QList<QByteArray> &arguments);
int RenderString(const Options &options, const QList<QByteArray> &arguments);

// export note N OUT.mid / export string TEXT OUT.mid: writes one pass of the stream as a
// Standard MIDI File.
int ExportNote(const Options &options, const QList<QByteArray> &arguments);
int ExportString(const Options &options, const QList<QByteArray> &arguments);

// The stream buffer that PlayNote assembles for the note number noteText with the settings of
// options; UsageError when noteText is not a decimal 32-bit number.
std::vector<std::uint8_t> NoteRequestStream(const Options &options, const QByteArray &noteText);

// Prints a stream buffer: one stream event a line, its 12 bytes in buffer order as two-digit
// upper-case hexadecimal separated by blanks, then "events E bytes B".
void PrintStreamBuffer(std::FILE *out, const std::vector<std::uint8_t> &buffer);

} // namespace tool
