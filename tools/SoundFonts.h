#pragma once

// The SoundFonts of the built-in synthesizer as the tool sees them: which can serve, and why the
// others cannot, said in the tool's own words.

#include <midiout/Output.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tool
{

// What is wrong with the SoundFont file at path, in a few words ("is missing", "is damaged:
// cut short at 100 of 2,000 bytes"), or an empty text when its structure is sound: a RIFF file
// of form "sfbk" as long as its header says, with its INFO, sample and preset lists.
QByteArray soundFontProblem(const QString &path);

// The SoundFonts that a synthesizer tries (tried, in that order: by default the system's) that
// pass soundFontProblem().
QStringList usableSoundFonts(const QStringList &tried = midiout::DefaultSoundFonts());

// Why a synthesizer that tried those SoundFonts has none, in one line: each one and what is
// wrong with it.
QByteArray noSoundFontReason(const QStringList &tried = midiout::DefaultSoundFonts());

// When the synthesizer loaded used (a canonical path) rather than one of tried before it that
// is there, says on stderr what is wrong with that one and which is used instead.
void warnOfSoundFontFallback(const QString &used,
                             const QStringList &tried = midiout::DefaultSoundFonts());

// The SoundFont file that the user named, as the synthesizer takes it: a QString path. A name
// that a QString cannot carry (bytes that are not text in the locale's encoding) is reached
// through a descriptor held open while the object lives, under its name in /proc/self/fd.
class NamedSoundFont
{
public:
    explicit NamedSoundFont(const QByteArray &name);
    ~NamedSoundFont();
    NamedSoundFont(const NamedSoundFont &) = delete;
    NamedSoundFont &operator=(const NamedSoundFont &) = delete;

    // The path to give the synthesizer and soundFontProblem().
    const QString &path() const { return path_; }
    // text with the path's name in it replaced by the name as the user gave it.
    QByteArray shown(QByteArray text) const;

private:
    QByteArray name_;
    QString path_;
    int descriptor_ = -1;
};

// GLib's messages are dropped from here on: the SoundFont readers under FluidSynth report a
// damaged file as failed GLib assertions ("CRITICAL **" on stderr), past FluidSynth's own log,
// and the tool says what is wrong in its own words. Fatal messages still go out.
void dropLibraryMessages();

} // namespace tool
