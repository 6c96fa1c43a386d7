// The sound verbs: the output devices, playing a request on a device, and rendering one offline
// into a sound file.

#include "Verbs.h"

#include "DeviceChoice.h"
#include "Interruption.h"
#include "OutputFile.h"
#include "RenderProgress.h"
#include "Settings.h"
#include "SoundFileWriter.h"
#include "SoundFonts.h"
#include "SoundFormats.h"

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/OfflineOutput.h>
#include <midiout/Output.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>

namespace tool
{

namespace
{

// The renderer hands back control after four audio blocks (256 frames, under a tick of 441), so
// that a notification is handled before the next tick is due (a pass that ends is queued again
// in time).
constexpr std::size_t ChunkFrames = 256;
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
        outputPath(arguments[1]);
    Request request;
    request.isNote = isNote;
    if (isNote) {
        const auto note = parseDecimal(arguments[0], std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max());
        if (!note)
            throw UsageError("invalid note number: " + arguments[0]);
        request.note = qint32(*note);
    } else {
        request.text = playStringText(arguments[0]);
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
    const TMGCompiledRequest stream = stringRequestStream(generator, request.text);
    if (stream.Stream().isEmpty())
        throw Failure(nothing + QByteArray(": the play string holds no event"));
    const QByteArray bytes = stream.Stream();
    std::uint64_t ticks = 0;
    for (const auto &entry : midiout::StreamEvents(
             reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())))
        ticks = entry.tick;
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

[[noreturn]] void refuseAsTooLong(const SoundFormat &format)
{
    throw Failure("nothing rendered: the sound is longer than " +
                  QByteArray(QByteArray("AEIOU").contains(format.title[0]) ? "an " : "a ") +
                  format.title + " file holds (" +
                  QByteArray::number(format.mostFrames / SoundFileWriter::SampleRate) + " s)");
}

// The frames that a stream's passes alone (ticks each) last. Refuses, before anything is
// rendered, a stream that lasts longer than a file of format holds; the sound that dies away
// after it is not known before it is rendered.
std::uint64_t tuneFrames(std::uint64_t ticks, std::uint64_t passes, const SoundFormat &format)
{
    constexpr std::uint64_t FramesPerTick = SoundFileWriter::SampleRate / 100; // 10 ms
    // Beyond this many the frames do not fit in 64 bits.
    constexpr std::uint64_t MostTicks = std::numeric_limits<std::uint64_t>::max() / FramesPerTick;
    const std::uint64_t most =
        format.mostFrames != 0 ? format.mostFrames / FramesPerTick : MostTicks;
    if (ticks != 0 && passes > most / ticks)
        refuseAsTooLong(format);
    return ticks * passes * FramesPerTick;
}

// Throws the failure to write path when why says something.
void checkWrite(const QByteArray &path, const QByteArray &why)
{
    if (!why.isEmpty())
        throw Failure(writeFailureMessage(path, why));
}

// The SoundFonts that a synthesizer tries.
struct SoundFontChoice {
    std::unique_ptr<NamedSoundFont> named; // the one that --soundfont names
    QStringList tried;

    // text with the SoundFont named as the user named it.
    QByteArray shown(const QByteArray &text) const { return named ? named->shown(text) : text; }
};

// The one that --soundfont names, which must look sound (else Failure beginning with nothing,
// naming it), or the system's.
SoundFontChoice chooseSoundFonts(const Options &options, const char *nothing)
{
    const QList<QByteArray> names = options.values("soundfont");
    if (names.isEmpty())
        return {nullptr, midiout::DefaultSoundFonts()};
    if (names.last().isEmpty())
        throw UsageError("the SoundFont file name is empty");
    SoundFontChoice choice{std::make_unique<NamedSoundFont>(names.last()), {}};
    choice.tried = {choice.named->path()};
    if (const QByteArray problem = soundFontProblem(choice.tried.first()); !problem.isEmpty())
        throw Failure(nothing + (": " + choice.shown(problem)));
    return choice;
}

// Why the built-in synthesizer of the system output cannot play. It loads the first of
// soundFonts that loads, so when the tool finds none that is sound, that is what it lacks; else
// it is the sound server that it plays through.
QByteArray builtinSynthRefusal(midiout::Output &output, const SoundFontChoice &soundFonts)
{
    // The device's name also says when FluidSynth refused every SoundFont that looks sound.
    const QString name = output.deviceName(-1);
    if (usableSoundFonts(soundFonts.tried).isEmpty() ||
        name.endsWith(QLatin1String("(no SoundFont)")))
        return "the built-in synthesizer has no SoundFont: " +
               soundFonts.shown(noSoundFontReason(soundFonts.tried));
    return name.toUtf8() +
           " cannot sound: no sound server answers (PulseAudio, or PipeWire's PulseAudio service)";
}

int play(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "play note" : "play string", isNote, arguments, 0);
    const SoundFontChoice soundFonts = chooseSoundFonts(options, "nothing played");
    if (soundFonts.named)
        midiout::SetBuiltinSoundFonts(soundFonts.tried);
    midiout::Output &output = midiout::Output::system();
    const QList<QByteArray> givenDevices = options.values("device");
    const qint32 device = givenDevices.isEmpty() ? -1 : chosenDevice(output, givenDevices.last());
    // From here on SIGINT and SIGTERM stop the stream before the tool exits.
    const Interruption interruption;
    TMidiGen generator(output);
    applySettings(generator, options);
    generator.SetDevice(device);
    // The synthesizer loads the first SoundFont that loads: the first that looks sound.
    const bool builtin = device <= 0;
    if (const QStringList sound = usableSoundFonts(soundFonts.tried); builtin && !sound.isEmpty())
        warnOfSoundFontFallback(QFileInfo(sound.first()).canonicalFilePath(), soundFonts.tried);
    passTicks(generator, request, "nothing played");
    if (interruption.signal() != 0)
        return interruption.exitStatus();
    start(generator, request, "nothing played", [&]() -> QByteArray {
        if (builtin)
            return builtinSynthRefusal(output, soundFonts);
        return output.deviceName(device).toUtf8() + " (device " + QByteArray::number(device) +
               ") cannot be opened now";
    });
    return playToTheEnd(generator, interruption);
}

int render(bool isNote, const Options &options, const QList<QByteArray> &arguments)
{
    const Request request =
        requestArgument(isNote ? "render note" : "render string", isNote, arguments, 1);
    const QByteArray &path = arguments[1];
    const QList<QByteArray> formatNames = options.values("format");
    const SoundFormat &format =
        chooseSoundFormat(path, formatNames.isEmpty() ? nullptr : &formatNames.last());
    // Only SoundFonts that look sound reach the synthesizer, which then has no damaged file to
    // complain about.
    const SoundFontChoice soundFonts = chooseSoundFonts(options, "nothing rendered");
    midiout::OfflineOutput output(usableSoundFonts(soundFonts.tried));
    TMidiGen generator(output);
    applySettings(generator, options);
    if (generator.Loops() == 0)
        throw UsageError("render needs a stream that ends: Loops must not be 0");
    const std::uint64_t frames =
        tuneFrames(passTicks(generator, request, "nothing rendered"), generator.Loops(), format);

    warnOfSoundFontFallback(output.soundFontPath(), soundFonts.tried);
    start(generator, request, "nothing rendered", [&output, &soundFonts]() -> QByteArray {
        if (output.soundFontPath().isEmpty())
            return "the offline synthesizer has no SoundFont: " +
                   soundFonts.shown(noSoundFontReason(soundFonts.tried));
        return output.deviceName(-1).toUtf8() + " cannot play: " + output.diagnostics().toUtf8();
    });
    // Until the stream has closed, then until the sound has died away, into a temporary file
    // that becomes the output once the whole file is there.
    StagedOutput file(path);
    checkWrite(path, file.open());
    SoundFileWriter sound(file, format);
    checkWrite(path, sound.open());
    RenderProgress progress(frames, SoundFileWriter::SampleRate);
    std::size_t silentFrames = 0;
    std::size_t tailFrames = 0;
    std::array<std::int16_t, 2 * ChunkFrames> samples{};
    while (generator.IsPlaying() ||
           (silentFrames < SilentFramesToEnd && tailFrames < MaxTailFrames)) {
        output.render(samples.data(), ChunkFrames); // straight into the samples written
        if (format.mostFrames != 0 && output.renderedFrames() > format.mostFrames)
            refuseAsTooLong(format);
        checkWrite(path, sound.write(samples.data(), ChunkFrames));
        progress.update(output.renderedFrames());
        QCoreApplication::processEvents();
        if (generator.IsPlaying())
            continue;
        tailFrames += ChunkFrames;
        const bool silent = std::all_of(samples.begin(), samples.end(),
                                        [](std::int16_t s) { return std::abs(s) < SilenceLevel; });
        silentFrames = silent ? silentFrames + ChunkFrames : 0;
    }
    progress.clear();
    checkWrite(path, sound.finish());
    checkWrite(path, file.commit());
    return 0;
}

} // namespace

int devices(const Options &, const QList<QByteArray> &arguments)
{
    if (!arguments.isEmpty())
        throw UsageError("unexpected argument: " + arguments[0]);
    std::fputs(deviceLines(midiout::Output::system()).constData(), stdout);
    return 0;
}

int playNoteVerb(const Options &options, const QList<QByteArray> &arguments)
{
    return play(true, options, arguments);
}

int playStringVerb(const Options &options, const QList<QByteArray> &arguments)
{
    return play(false, options, arguments);
}

int renderNote(const Options &options, const QList<QByteArray> &arguments)
{
    return render(true, options, arguments);
}

int renderString(const Options &options, const QList<QByteArray> &arguments)
{
    return render(false, options, arguments);
}

} // namespace tool
