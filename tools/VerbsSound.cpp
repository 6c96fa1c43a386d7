// The sound verbs: the output devices, playing a request on a device, and rendering one offline
// into a WAV file.

#include "Verbs.h"

#include "DeviceChoice.h"
#include "Interruption.h"
#include "OutputFile.h"
#include "Settings.h"
#include "SoundFonts.h"
#include "WavWriter.h"

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/OfflineOutput.h>
#include <midiout/Output.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
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
// The rendered samples go to the file in pieces of about this size.
constexpr qsizetype WriteBytes = 1 << 20;

// What a request asks to play: a note number or a play string.
struct Request {
    bool isNote = true;
    qint32 note = 0;
    QByteArray text;
};

// The request after the verb's words (a play string "-" is read from standard input), and the
// arguments that follow it.
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
    if (extra > 0)
        OutputPath(arguments[1]);
    Request request;
    request.isNote = isNote;
    if (isNote) {
        const auto note = ParseDecimal(arguments[0], std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max());
        if (!note)
            throw UsageError("invalid note number: " + arguments[0]);
        request.note = qint32(*note);
    } else {
        request.text = PlayStringText(arguments[0]);
    }
    return request;
}

// The ticks that one pass of what request plays lasts with generator's settings (its stream's
// delta times together). Failure naming why nothing starts when a play string yields no event;
// a play string cut at the stream's limit is said on stderr.
std::uint64_t passTicks(const TMidiGen &generator, const Request &request, const char *nothing)
{
    if (request.isNote)
        return generator.Duration();
    const TMGCompiledRequest stream = StringRequestStream(generator, request.text);
    if (stream.Stream().isEmpty())
        throw Failure(nothing + QByteArray(": the play string holds no event"));
    const QByteArray bytes = stream.Stream();
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    std::uint64_t ticks = 0;
    for (qsizetype offset = 0; offset + midiout::StreamEvent::Size <= bytes.size();
         offset += midiout::StreamEvent::Size)
        ticks += midiout::StreamEvent::decode(data + offset).delta;
    return ticks;
}

// Starts the request; failure names why nothing starts: what whyNoDevice() says when the device
// cannot be opened.
void start(TMidiGen &generator, const Request &request, const char *nothing,
           const std::function<QByteArray()> &whyNoDevice)
{
    const bool started =
        request.isNote ? generator.PlayNote(request.note) : generator.PlayString(request.text);
    if (started)
        return;
    const bool noDevice =
        generator.LastRefusal() == TMidiGen::mgNoOutput || !generator.MidiAvailable();
    throw Failure(nothing + (": " + (noDevice ? whyNoDevice()
                                              : QByteArray("the stream could not be started"))));
}

[[noreturn]] void refuseAsTooLong()
{
    throw Failure("nothing rendered: the sound is longer than a WAV file holds (" +
                  QByteArray::number(WavWriter::MaxDataBytes / WavWriter::BytesPerFrame /
                                     WavWriter::SampleRate) +
                  " s)");
}

// Refuses, before anything is rendered, a stream whose passes alone (ticks each) last longer
// than a WAV file holds; the sound that dies away after it is not known before it is rendered.
void refuseWhatCannotFit(std::uint64_t ticks, std::uint64_t passes)
{
    constexpr std::uint64_t FramesPerTick = WavWriter::SampleRate / 100; // 10 ms
    constexpr std::uint64_t MostFrames = WavWriter::MaxDataBytes / WavWriter::BytesPerFrame;
    if (ticks != 0 && passes > MostFrames / FramesPerTick / ticks)
        refuseAsTooLong();
    if (ticks * passes * FramesPerTick > MostFrames)
        refuseAsTooLong();
}

// Throws the failure to write path when why says something.
void checkWrite(const QByteArray &path, const QByteArray &why)
{
    if (!why.isEmpty())
        throw Failure(WriteFailureMessage(path, why));
}

// Why the built-in synthesizer of the system output cannot play. It loads the first SoundFont
// that loads, so when the tool finds none that is sound, that is what it lacks; else it is the
// sound server that it plays through.
QByteArray builtinSynthRefusal(midiout::Output &output)
{
    // The device's name also says when FluidSynth refused every SoundFont that looks sound.
    const QString name = output.deviceName(-1);
    if (UsableSoundFonts().isEmpty() || name.endsWith(QLatin1String("(no SoundFont)")))
        return "the built-in synthesizer has no SoundFont: " + NoSoundFontReason();
    return name.toUtf8() +
           " cannot sound: no sound server answers (PulseAudio, or PipeWire's PulseAudio service)";
}

int play(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "play note" : "play string", isNote, arguments, 0);
    midiout::Output &output = midiout::Output::system();
    const QList<QByteArray> devices = options.values("device");
    const qint32 device = devices.isEmpty() ? -1 : ChosenDevice(output, devices.last());
    // From here on SIGINT and SIGTERM stop the stream before the tool exits.
    const Interruption interruption;
    TMidiGen generator(output);
    ApplySettings(generator, options);
    generator.SetDevice(device);
    // The synthesizer loads the first SoundFont that loads: the first that looks sound.
    const bool builtin = device <= 0;
    if (const QStringList sound = UsableSoundFonts(); builtin && !sound.isEmpty())
        WarnOfSoundFontFallback(QFileInfo(sound.first()).canonicalFilePath());
    passTicks(generator, request, "nothing played");
    if (interruption.signal() != 0)
        return interruption.exitStatus();
    start(generator, request, "nothing played", [&]() -> QByteArray {
        if (builtin)
            return builtinSynthRefusal(output);
        return output.deviceName(device).toUtf8() + " (device " + QByteArray::number(device) +
               ") cannot be opened now";
    });
    return PlayToTheEnd(generator, interruption);
}

int render(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "render note" : "render string", isNote, arguments, 1);
    const QByteArray &path = arguments[1];
    // Only SoundFonts that look sound reach the synthesizer, which then has no damaged file to
    // complain about.
    midiout::OfflineOutput output(UsableSoundFonts());
    TMidiGen generator(output);
    ApplySettings(generator, options);
    if (generator.Loops() == 0)
        throw UsageError("render needs a stream that ends: Loops must not be 0");
    refuseWhatCannotFit(passTicks(generator, request, "nothing rendered"), generator.Loops());

    WarnOfSoundFontFallback(output.soundFontPath());
    start(generator, request, "nothing rendered", [&output]() -> QByteArray {
        if (output.soundFontPath().isEmpty())
            return "the offline synthesizer has no SoundFont: " + NoSoundFontReason();
        return output.deviceName(-1).toUtf8() + " cannot play: " + output.diagnostics().toUtf8();
    });
    // Until the stream has closed, then until the sound has died away, into a temporary file
    // that becomes the output once the whole file is there; the header's sizes come last.
    StagedOutput file(path);
    checkWrite(path, file.open());
    WavWriter wav;
    checkWrite(path, file.write(wav.header()));
    std::size_t silentFrames = 0;
    std::size_t tailFrames = 0;
    while (generator.IsPlaying() ||
           (silentFrames < SilentFramesToEnd && tailFrames < MaxTailFrames)) {
        const std::vector<std::int16_t> samples = output.render(ChunkFrames);
        if (!wav.write(samples.data(), ChunkFrames))
            refuseAsTooLong();
        if (wav.pendingBytes() >= WriteBytes)
            checkWrite(path, file.write(wav.takeSamples()));
        QCoreApplication::processEvents();
        if (generator.IsPlaying())
            continue;
        tailFrames += ChunkFrames;
        const bool silent = std::all_of(samples.begin(), samples.end(),
                                        [](std::int16_t s) { return std::abs(s) < SilenceLevel; });
        silentFrames = silent ? silentFrames + ChunkFrames : 0;
    }
    checkWrite(path, file.write(wav.takeSamples()));
    checkWrite(path, file.writeAt(0, wav.header()));
    checkWrite(path, file.commit());
    return 0;
}

} // namespace

int Devices(const Options &, const QList<QByteArray> &arguments)
{
    if (!arguments.isEmpty())
        throw UsageError("unexpected argument: " + arguments[0]);
    std::fputs(DeviceLines(midiout::Output::system()).constData(), stdout);
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
