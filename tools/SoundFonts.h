#pragma once

// The SoundFonts of the built-in synthesizer as the tool sees them: which can serve, and why the
// others cannot, said in the tool's own words.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tool
{

// What is wrong with the SoundFont file at path, in a few words ("is missing", "is damaged:
// cut short at 100 of 2,000 bytes"), or an empty text when its structure is sound: a RIFF file
// of form "sfbk" as long as its header says, with its INFO, sample and preset lists.
QByteArray SoundFontProblem(const QString &path);

// The synthesizer's SoundFonts, in the order it tries them, that pass SoundFontProblem().
QStringList UsableSoundFonts();

// Why a synthesizer has no SoundFont, in one line: each one it tries and what is wrong with it.
QByteArray NoSoundFontReason();

// When the synthesizer loaded used (a canonical path) rather than a SoundFont before it that is
// there, says on stderr what is wrong with that one and which is used instead.
void WarnOfSoundFontFallback(const QString &used);

// GLib's messages are dropped from here on: the SoundFont readers under FluidSynth report a
// damaged file as failed GLib assertions ("CRITICAL **" on stderr), past FluidSynth's own log,
// and the tool says what is wrong in its own words. Fatal messages still go out.
void DropLibraryMessages();

} // namespace tool
