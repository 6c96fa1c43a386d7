#pragma once

// Settings given on the command line (--set NAME=VALUE), written through the properties of the
// tone generator.

#include "Options.h"

#include <QByteArray>

class TMidiGen;

namespace tool
{

// Writes one setting through its property's setter, so out-of-range numbers are clamped.
// NAME is a property of TMidiGen; VALUE is a decimal number, an enumeration name such as mgViolin
// for Note, Instrument and Channel (or a number 0..255), or true/false (or a number) for Sustain.
// Throws UsageError naming an unknown property, a read-only one or an invalid value.
void ApplySetting(TMidiGen &generator, const QByteArray &assignment);

// Applies every --set option of options, in order.
void ApplySettings(TMidiGen &generator, const Options &options);

// The names of the settings that --set accepts, in property order, separated by ", ".
QByteArray SettingNames();

} // namespace tool
