// The sound verbs: the output devices, playing a request on a device, and rendering one offline
// into a WAV file.

#include "Verbs.h"

#include "Settings.h"
#include "WavWriter.h"
#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>
#include <midiout/Output.h>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tool
{

namespace
{

// The renderer hands back control after every audio block, so that a notification is handled
// before the next tick is due (a pass that ends is queued again in time).
constexpr std::size_t ChunkFrames = 64;
// The rendered sound has died away after this long below SilenceLevel.
constexpr std::size_t SilentFramesToEnd = midiout::OfflineOutput::SampleRate / 2;
constexpr int SilenceLevel = 33; // about -60 dB of full scale
// A stream that ends renders at most this much sound after its close.
constexpr std::size_t MaxTailFrames = 10 * midiout::OfflineOutput::SampleRate;

// What a request asks to play: a note number or a play string.
struct Request {
    bool isNote = true;
    qint32 note = 0;
    QByteArray text;
};

// The request after the verb's words, and the arguments that follow it.
Request requestArgument(const char *verb, bool isNote, const QList<QByteArray> &arguments,
                        qsizetype extra)
{
    if (arguments.isEmpty())
        throw UsageError(QByteArray(verb) +
                         (isNote ? " needs a note number" : " needs a play string"));
    if (arguments.size() > 1 + extra)
        throw UsageError("unexpected argument: " + arguments[1 + extra]);
    if (arguments.size() < 1 + extra)
        throw UsageError(QByteArray(verb) + " needs an output file");
    Request request;
    request.isNote = isNote;
    if (isNote) {
        const auto note = ParseDecimal(arguments[0], std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max());
        if (!note)
            throw UsageError("invalid note number: " + arguments[0]);
        request.note = qint32(*note);
    } else {
        request.text = arguments[0];
    }
    return request;
}

bool start(TMidiGen &generator, const Request &request)
{
    return request.isNote ? generator.PlayNote(request.note) : generator.PlayString(request.text);
}

// Why a request started nothing, in one line: the component's reason, with the device's name
// when the device is what failed.
QByteArray refusal(const TMidiGen &generator, midiout::Output &output, qint32 device)
{
    QByteArray reason = generator.LastError().toUtf8();
    if (generator.LastRefusal() == TMidiGen::mgNoOutput ||
        generator.LastRefusal() == TMidiGen::mgOpenFailed) {
        const QString name = output.deviceName(device);
        if (!name.isEmpty())
            reason += " (" + name.toUtf8() + ")";
    }
    return reason;
}

int play(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "play note" : "play string", isNote, arguments, 0);
    midiout::Output &output = midiout::Output::system();
    TMidiGen generator(output);
    ApplySettings(generator, options);
    qint32 device = -1;
    const QList<QByteArray> devices = options.values("device");
    if (!devices.isEmpty()) {
        const auto number = ParseDecimal(devices.last(), std::numeric_limits<qint32>::min(),
                                         std::numeric_limits<qint32>::max());
        if (!number)
            throw UsageError("invalid device number: " + devices.last());
        device = qint32(*number);
        if (!generator.SetDevice(device)) {
            std::fprintf(stderr, "midigen: no device %d\n", device);
            return 1;
        }
    }
    if (!start(generator, request)) {
        std::fprintf(stderr, "midigen: nothing played: %s\n",
                     refusal(generator, output, device).constData());
        return 1;
    }
    while (generator.IsPlaying())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}

int render(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "render note" : "render string", isNote, arguments, 1);
    const QString path = QString::fromLocal8Bit(arguments[1]);
    midiout::OfflineOutput output;
    TMidiGen generator(output);
    ApplySettings(generator, options);
    if (generator.Loops() == 0)
        throw UsageError("render needs a stream that ends: Loops must not be 0");

    WavWriter wav;
    if (!wav.open(path)) {
        std::fprintf(stderr, "midigen: cannot write %s: %s\n", arguments[1].constData(),
                     qPrintable(wav.errorString()));
        return 1;
    }
    if (!start(generator, request)) {
        std::fprintf(stderr, "midigen: nothing rendered: %s\n",
                     refusal(generator, output, -1).constData());
        wav.close();
        return 1;
    }
    // Until the stream has closed, then until the sound has died away.
    std::size_t silentFrames = 0;
    std::size_t tailFrames = 0;
    while (generator.IsPlaying() ||
           (silentFrames < SilentFramesToEnd && tailFrames < MaxTailFrames)) {
        const std::vector<std::int16_t> samples = output.render(ChunkFrames);
        if (!wav.write(samples.data(), ChunkFrames)) {
            std::fprintf(stderr, "midigen: cannot write %s: %s\n", arguments[1].constData(),
                         qPrintable(wav.errorString()));
            return 1;
        }
        QCoreApplication::processEvents();
        if (generator.IsPlaying())
            continue;
        tailFrames += ChunkFrames;
        const bool silent = std::all_of(samples.begin(), samples.end(),
                                        [](std::int16_t s) { return std::abs(s) < SilenceLevel; });
        silentFrames = silent ? silentFrames + ChunkFrames : 0;
    }
    if (!wav.close()) {
        std::fprintf(stderr, "midigen: cannot write %s: %s\n", arguments[1].constData(),
                     qPrintable(wav.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int Devices(const Options &, const QList<QByteArray> &arguments)
{
    if (!arguments.isEmpty())
        throw UsageError("unexpected argument: " + arguments[0]);
    midiout::Output &output = midiout::Output::system();
    const int count = output.deviceCount();
    for (int device = 0; device < count; ++device)
        std::printf("%d %s\n", device, qPrintable(output.deviceName(device)));
    return 0;
}

int PlayNoteVerb(const Options &options, const QList<QByteArray> &arguments)
{
    return play(true, options, arguments);
}

int PlayStringVerb(const Options &options, const QList<QByteArray> &arguments)
{
    return play(false, options, arguments);
}

int RenderNote(const Options &options, const QList<QByteArray> &arguments)
{
    return render(true, options, arguments);
}

int RenderString(const Options &options, const QList<QByteArray> &arguments)
{
    return render(false, options, arguments);
}

} // namespace tool
