// midigen: command-line front of the tone generator.

#include "Options.h"
#include "Verbs.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    // Copied first: the application object may take arguments of its own out of argv.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QCoreApplication application(argc, argv);

    try {
        const tool::Options options = tool::ParseOptions(arguments, tool::TextFollows);
        if (options.has("help")) {
            tool::PrintHelp(stdout);
            return 0;
        }
        if (options.has("version")) {
            tool::PrintVersion(stdout);
            return 0;
        }
        const tool::Verb &verb = tool::FindVerb(options.words);
        return verb.run(options, options.words.mid(verb.words.size()));
    } catch (const tool::UsageError &error) {
        std::fprintf(stderr, "midigen: %s\n", error.what());
        return 2;
    }
}
