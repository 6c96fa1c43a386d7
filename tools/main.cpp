// midigen: command-line front of the tone generator.

#include "Options.h"
#include "SoundFonts.h"
#include "Verbs.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    // Copied first, as the bytes they are: the application object may take arguments of its own
    // out of argv, and file names need not be text in any encoding.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QCoreApplication application(argc, argv);
    // A reader that goes away makes a write fail with EPIPE, which the tool reports.
    std::signal(SIGPIPE, SIG_IGN);
    tool::dropLibraryMessages();

    try {
        const tool::Options options = tool::parseOptions(arguments, tool::textFollows);
        if (options.has("help")) {
            tool::printHelp(stdout);
            return 0;
        }
        if (options.has("version")) {
            tool::printVersion(stdout);
            return 0;
        }
        const tool::Verb &verb = tool::findVerb(options.words);
        tool::checkOptions(verb, options);
        return verb.run(options, options.words.mid(verb.words.size()));
    } catch (const tool::UsageError &error) {
        std::fprintf(stderr, "midigen: %s\n", error.what());
        return 2;
    } catch (const tool::Failure &failure) {
        std::fprintf(stderr, "midigen: %s\n", failure.what());
        return 1;
    }
}
