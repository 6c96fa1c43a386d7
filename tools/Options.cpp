#include "Options.h"

#include <iterator>

namespace tool
{

namespace
{

struct KnownOption {
    const char *name;
    bool takesValue;
};

// Every option the tool knows; a verb reads the ones it needs.
constexpr KnownOption KnownOptions[] = {
    {"help", false},     // every verb
    {"version", false},  // every verb
    {"set", true},       // the verbs of a request
    {"device", true},    // play
    {"soundfont", true}, // play and render
    {"format", true},    // render
};

const KnownOption *findOption(const QByteArray &name)
{
    for (const KnownOption &known : KnownOptions) {
        if (name == known.name)
            return &known;
    }
    return nullptr;
}

} // namespace

QList<QByteArray> Options::values(const QByteArray &name) const
{
    QList<QByteArray> result;
    for (const Option &option : options) {
        if (option.name == name)
            result.append(option.value);
    }
    return result;
}

bool Options::has(const QByteArray &name) const
{
    for (const Option &option : options) {
        if (option.name == name)
            return true;
    }
    return false;
}

Options parseOptions(const QList<QByteArray> &arguments,
                     const std::function<bool(const QList<QByteArray> &words)> &textFollows)
{
    Options result;
    for (auto it = arguments.begin(); it != arguments.end(); ++it) {
        const QByteArray &argument = *it;
        if (textFollows && textFollows(result.words)) {
            result.words.append(argument);
            continue;
        }
        if (argument == "-h") {
            result.options.push_back({"help", {}});
            continue;
        }
        if (!argument.startsWith("--") || argument.size() == 2) {
            result.words.append(argument);
            continue;
        }
        QByteArray name = argument.mid(2);
        std::optional<QByteArray> value;
        if (const qsizetype equals = name.indexOf('='); equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        const KnownOption *known = findOption(name);
        if (!known)
            throw UsageError("unknown option: --" + name);
        if (known->takesValue && !value) {
            if (std::next(it) == arguments.end())
                throw UsageError("option --" + name + " needs a value");
            value = *++it;
        } else if (!known->takesValue && value) {
            throw UsageError("option --" + name + " takes no value");
        }
        result.options.push_back({name, value.value_or(QByteArray())});
    }
    return result;
}

std::optional<qint64> parseDecimal(const QByteArray &text, qint64 min, qint64 max)
{
    // Digits with an optional sign only: no blanks, no other bases.
    const qsizetype start = (text.startsWith('+') || text.startsWith('-')) ? 1 : 0;
    if (text.size() == start)
        return std::nullopt;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    // Leading zeros do not count: more than 18 digits are beyond any bound given.
    qsizetype first = start;
    while (first < text.size() - 1 && text[first] == '0')
        ++first;
    if (text.size() - first > 18)
        return std::nullopt;
    const qint64 magnitude = text.mid(first).toLongLong();
    const qint64 value = text.startsWith('-') ? -magnitude : magnitude;
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace tool
