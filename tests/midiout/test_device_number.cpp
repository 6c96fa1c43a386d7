// A device found by its name: the whole name, or a graph port's "node:port" without the
// description in brackets after it; numbers move as devices come and go, names stay.

#include <midiout/Output.h>

#include <gtest/gtest.h>

#include <utility>

namespace
{

// Devices with the given names, which the test changes as devices come and go.
class NamedOutput : public midiout::Output
{
public:
    explicit NamedOutput(QStringList names) : names(std::move(names)) {}
    int deviceCount() override { return int(names.size()); }
    QString deviceName(int device) override
    {
        return device == -1 ? names.value(0) : names.value(device);
    }
    bool probe(int) override { return false; }
    std::unique_ptr<midiout::Stream> open(int, QObject *) override { return nullptr; }

    QStringList names;
};

} // namespace

TEST(DeviceNumber, FindsAWholeNameOrTheNameBeforeItsDescription)
{
    NamedOutput output({QStringLiteral("Built-in synthesizer (default-GM.sf2)"),
                        QStringLiteral("Synth:midi_in (Software synthesizer)"),
                        QStringLiteral("Synth:midi_in_2"),
                        QStringLiteral("Midi-Bridge:Keys (capture)")});
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Built-in synthesizer (default-GM.sf2)")), 0);
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Built-in synthesizer")), 0);
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Synth:midi_in")), 1)
        << "not the port whose name only begins the same";
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Synth:midi_in_2")), 2);
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Midi-Bridge:Keys (capture)")), 3);

    // Neither a part of a name nor a description alone names a device.
    for (const char *name : {"", "Synth", "Synth:midi", "Software synthesizer", "Synth:midi_in (",
                             "synth:midi_in", "Midi-Bridge:Keys (capture) "}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(output.deviceNumber(QString::fromUtf8(name)), midiout::Output::NoDevice);
    }

    // The same name gives the device's number of the moment.
    output.names.removeAt(1);
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Synth:midi_in_2")), 1);
    EXPECT_EQ(output.deviceNumber(QStringLiteral("Synth:midi_in")), midiout::Output::NoDevice);
}
