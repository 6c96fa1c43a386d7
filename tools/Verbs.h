#pragma once

// The verbs of the midigen tool. To add one: write its function (in a Verbs*.cpp file of its
// group), declare it below and add a row to the table in Verbs.cpp.

#include "Options.h"

#include <QByteArray>
#include <QList>

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
};

// Every verb, in the order the help lists them.
const std::vector<Verb> &AllVerbs();

// The verb whose words begin words. Throws UsageError naming the unknown verb.
const Verb &FindVerb(const QList<QByteArray> &words);

// Writes the help text describing every verb and option to out.
void PrintHelp(std::FILE *out);

// dump note N: prints the stream buffer that PlayNote(N) assembles.
int DumpNote(const Options &options, const QList<QByteArray> &arguments);

} // namespace tool
