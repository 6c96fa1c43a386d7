#include "DeviceChoice.h"

#include "Options.h"

#include <midiout/Output.h>

#include <limits>

namespace tool
{

QByteArray deviceLines(midiout::Output &output, const QByteArray &indent)
{
    QByteArray lines;
    const int count = output.deviceCount();
    for (int device = 0; device < count; ++device)
        lines +=
            indent + QByteArray::number(device) + ' ' + output.deviceName(device).toUtf8() + '\n';
    return lines;
}

qint32 chosenDevice(midiout::Output &output, const QByteArray &given)
{
    // Names of graph ports hold a ":", so a name is never read as a number. The numbers are
    // those that TMidiGen::SetDevice() takes: -1 and 0 .. count - 1.
    const auto number =
        parseDecimal(given, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    const qint64 device = number ? *number : output.deviceNumber(QString::fromUtf8(given));
    if (device >= -1 && device < output.deviceCount())
        return qint32(device);
    QByteArray list = deviceLines(output, "  ");
    list.chop(1);
    throw UsageError(
        "no device " + (number ? given : '"' + given + '"') +
        (list.isEmpty() ? QByteArray("; there is no device") : "; the devices are:\n" + list));
}

} // namespace tool
