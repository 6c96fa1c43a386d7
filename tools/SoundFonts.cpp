#include "SoundFonts.h"

#include "Verbs.h"

#include <midiout/Output.h>

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <set>

namespace tool
{

namespace
{

// Fourcc and length of the chunk whose header starts at offset, or false past the end.
bool readChunk(QFile &file, qint64 offset, QByteArray &id, quint32 &length)
{
    if (!file.seek(offset))
        return false;
    const QByteArray header = file.read(8);
    if (header.size() != 8)
        return false;
    id = header.left(4);
    length = qFromLittleEndian<quint32>(header.constData() + 4);
    return true;
}

// The function types of GLib's log handlers (gmessages.h), looked up at run time: the tool does
// not build against GLib, and a process without GLib has no such messages to drop.
using GLogFunc = void (*)(const char *domain, int level, const char *message, void *data);
using SetDefaultHandler = GLogFunc (*)(GLogFunc handler, void *data);
constexpr int GLogFlagFatal = 1 << 1;
constexpr int GLogLevelError = 1 << 2;

GLogFunc glibDefaultHandler = nullptr;

void dropMessage(const char *domain, int level, const char *message, void *data)
{
    if ((level & (GLogFlagFatal | GLogLevelError)) != 0 && glibDefaultHandler != nullptr)
        glibDefaultHandler(domain, level, message, data);
}

} // namespace

QByteArray soundFontProblem(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const QFileInfo info(path);
    if (!info.exists())
        return name + " is missing";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return name + " cannot be read: " + file.errorString().toUtf8();
    const qint64 size = file.size();
    QByteArray id;
    quint32 length = 0;
    if (!readChunk(file, 0, id, length) || id != "RIFF" || file.read(4) != "sfbk")
        return name + " is damaged: not a SoundFont";
    if (8 + qint64(length) > size)
        return name + " is damaged: cut short at " + withSeparators(size) + " of " +
               withSeparators(8 + qint64(length)) + " bytes";
    // The three lists of a SoundFont, one after another inside the RIFF chunk.
    std::set<QByteArray> lists;
    for (qint64 offset = 12; offset + 8 <= 8 + qint64(length);) {
        quint32 chunkLength = 0;
        if (!readChunk(file, offset, id, chunkLength))
            break;
        if (id == "LIST")
            lists.insert(file.read(4));
        offset += 8 + qint64(chunkLength) + (chunkLength & 1);
    }
    for (const char *list : {"INFO", "sdta", "pdta"}) {
        if (!lists.contains(list))
            return name + " is damaged: its " + list + " list is missing";
    }
    return {};
}

QStringList usableSoundFonts(const QStringList &tried)
{
    QStringList sound;
    for (const QString &path : tried) {
        if (soundFontProblem(path).isEmpty())
            sound.append(path);
    }
    return sound;
}

QByteArray noSoundFontReason(const QStringList &tried)
{
    QByteArrayList problems;
    for (const QString &path : tried) {
        QByteArray problem = soundFontProblem(path);
        problems.append(problem.isEmpty() ? QFile::encodeName(path) + " could not be loaded"
                                          : problem);
    }
    return problems.join("; ");
}

void warnOfSoundFontFallback(const QString &used, const QStringList &tried)
{
    if (used.isEmpty())
        return;
    for (const QString &path : tried) {
        const QFileInfo info(path);
        if (info.canonicalFilePath() == used)
            return;
        if (!info.exists())
            continue;
        QByteArray problem = soundFontProblem(path);
        if (problem.isEmpty())
            problem = QFile::encodeName(path) + " could not be loaded";
        std::fprintf(stderr, "midigen: %s; %s is used instead\n", problem.constData(),
                     QFile::encodeName(used).constData());
    }
}

NamedSoundFont::NamedSoundFont(const QByteArray &name) : name_(name), path_(QFile::decodeName(name))
{
    if (QFile::encodeName(path_) == name_)
        return;
    descriptor_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ >= 0)
        path_ = QStringLiteral("/proc/self/fd/%1").arg(descriptor_);
}

NamedSoundFont::~NamedSoundFont()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

QByteArray NamedSoundFont::shown(QByteArray text) const
{
    return text.replace(QFile::encodeName(path_), name_);
}

void dropLibraryMessages()
{
    // The same GLib as FluidSynth's and Qt's: it is loaded once per process.
    void *glib = ::dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (glib == nullptr)
        return;
    const auto setHandler =
        reinterpret_cast<SetDefaultHandler>(::dlsym(glib, "g_log_set_default_handler"));
    if (setHandler != nullptr)
        glibDefaultHandler = setHandler(&dropMessage, nullptr);
}

} // namespace tool
