#pragma once

// Settings given on the command line (--set NAME=VALUE), written through the properties of the
// tone generator.

#include "Options.h"

#include <QByteArray>

class TMidiGen;

namespace tool
{

// Writes one setting through its property's setter. One rule for every setting: a value that the
// setter's argument can hold is taken, and clamped as the setter clamps it; any other is bad
// input. NAME is a property of TMidiGen; VALUE is a decimal number within the argument's type
// (qint32: -2147483648..2147483647, quint32: 0..4294967295), an enumeration name such as
// mgViolin for Note, Instrument and Channel or a number 0..255 (8 bits), or true, false, 1 or 0
// for Sustain. Throws UsageError naming an unknown property, a read-only one or a value outside
// the type, with the values it takes.
void applySetting(TMidiGen &generator, const QByteArray &assignment);

// Applies every --set option of options, in order.
void applySettings(TMidiGen &generator, const Options &options);

// The names of the settings that --set accepts, in property order, separated by ", ".
QByteArray settingNames();

} // namespace tool
