#pragma once

// The command line of the midigen tool: words (the verb and its arguments) and options.

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tool
{

// A mistake on the command line. The message names what was wrong; the tool prints it on one
// line (with the choices on lines of their own after it, where it lists them) and exits with
// status 2.
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const QByteArray &message) : std::runtime_error(message.toStdString()) {}
};

// One option as given: name without the leading "--", and its value (empty for a flag).
struct Option {
    QByteArray name;
    QByteArray value;
};

struct Options {
    QList<QByteArray> words;     // everything that is not an option, in order
    std::vector<Option> options; // in command-line order

    // The values of every occurrence of option name, in order.
    QList<QByteArray> values(const QByteArray &name) const;
    // Whether option name was given at least once.
    bool has(const QByteArray &name) const;
};

// Splits the arguments after the program name. "--name VALUE" and "--name=VALUE" give an option
// that takes a value, "--name" a flag, "-h" is --help; anything else is a word, also text that
// begins with a single "-" such as the number -5. Throws UsageError for an unknown option or a
// missing value. When textFollows holds for the words read so far, the next argument is a word
// as it stands, whatever it begins with (the text of a verb that takes one).
Options parseOptions(const QList<QByteArray> &arguments,
                     const std::function<bool(const QList<QByteArray> &words)> &textFollows = {});

// A decimal integer (optional sign, any number of leading zeros) within min..max, or nothing.
std::optional<qint64> parseDecimal(const QByteArray &text, qint64 min, qint64 max);

} // namespace tool
