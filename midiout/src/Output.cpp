// The members of Output that every set of devices shares.

#include <midiout/Output.h>

namespace midiout
{

int Output::deviceNumber(const QString &name)
{
    if (name.isEmpty())
        return NoDevice;
    const int count = deviceCount();
    for (int device = 0; device < count; ++device) {
        const QString candidate = deviceName(device);
        if (candidate == name ||
            (candidate.startsWith(name) &&
             QStringView(candidate).mid(name.size()).startsWith(QLatin1String(" ("))))
            return device;
    }
    return NoDevice;
}

} // namespace midiout
