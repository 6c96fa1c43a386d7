#pragma once

// The output devices as the tool shows them, and the device that --device names.

#include <QByteArray>

namespace midiout
{
class Output;
} // namespace midiout

namespace tool
{

// Every device of output, one "NUMBER NAME" line each, lines begun with indent.
QByteArray deviceLines(midiout::Output &output, const QByteArray &indent = {});

// The device that given names: a number that devices lists, -1 for the default (the built-in
// synthesizer), or a device's name as devices prints it, or its part before " (" ("node:port"
// of an instrument). A device that does not exist is bad input: UsageError naming it and
// listing the devices.
qint32 chosenDevice(midiout::Output &output, const QByteArray &given);

} // namespace tool
