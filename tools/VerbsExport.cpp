// The export verbs: what a play request plays, written as a Standard MIDI File.

#include "Verbs.h"

#include "Settings.h"
#include "StandardMidiFile.h"

#include "PlayStringParser.h"
#include "SettingsOf.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>

#include <QSaveFile>

namespace tool
{

namespace
{

// Writes bytes to path as a whole: an existing file is replaced only once every byte is written.
// Returns the exit status, after printing the reason of a failure.
int writeFile(const QByteArray &path, const std::vector<std::uint8_t> &bytes)
{
    QSaveFile file(QString::fromLocal8Bit(path));
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(reinterpret_cast<const char *>(bytes.data()),
                                    qint64(bytes.size())) == qint64(bytes.size()) &&
                         file.commit();
    if (!written) {
        std::fprintf(stderr, "midigen: cannot write %s: %s\n", path.constData(),
                     qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}

// The file of one stream buffer written to path; exit status 2 when the stream cannot be a file.
int exportStream(const std::vector<std::uint8_t> &streamBuffer, const QByteArray &path)
{
    std::vector<std::uint8_t> file;
    try {
        file = StandardMidiFile(streamBuffer);
    } catch (const FileFormatError &error) {
        throw UsageError(QByteArray("cannot export: ") + error.what());
    }
    return writeFile(path, file);
}

// The two arguments after the verb's words: what to play and the output file.
void checkArguments(const QList<QByteArray> &arguments, const char *verb, const char *what)
{
    if (arguments.isEmpty())
        throw UsageError(QByteArray(verb) + " needs " + what);
    if (arguments.size() < 2)
        throw UsageError(QByteArray(verb) + " needs an output file");
    if (arguments.size() > 2)
        throw UsageError("unexpected argument: " + arguments[2]);
}

} // namespace

int ExportNote(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export note", "a note number");
    return exportStream(NoteRequestStream(options, arguments[0]), arguments[1]);
}

int ExportString(const Options &options, const QList<QByteArray> &arguments)
{
    checkArguments(arguments, "export string", "a play string");
    TMidiGen generator;
    ApplySettings(generator, options);
    midigen::EventList list;
    const bool bendAllowed =
        midigen::ParsePlayString(arguments[0], midigen::ParseSettingsOf(generator), list);
    // PlayString plays nothing for an empty list, so there is nothing to write either.
    if (list.empty()) {
        std::fprintf(stderr, "midigen: nothing exported: the play string holds no note\n");
        return 1;
    }
    return exportStream(
        midigen::EncodeStream(list, midigen::EncodeSettingsOf(generator), bendAllowed),
        arguments[1]);
}

} // namespace tool
