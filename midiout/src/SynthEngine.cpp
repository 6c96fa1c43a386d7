#include "SynthEngine.h"

#include "SynthStream.h"

#include <midiout/MidiMessages.h>

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include "FluidApi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace midiout
{

namespace
{

const char *const SoundFontFolder = "/usr/share/sounds/sf2";

// FluidSynth's messages of the whole process go to the diagnostics instead of stderr. The audio
// thread may log (a program change to a missing preset): the writer neither waits nor allocates;
// it drops a message that meets a reader, and keeps the first LogLines.
constexpr int LogLines = 16;
constexpr std::size_t LogLength = 160;
std::atomic_flag logBusy = ATOMIC_FLAG_INIT;
char logText[LogLines][LogLength];
int logCount = 0;

void logMessage(int level, const char *message, void *)
{
    if (level > FLUID_WARN || logBusy.test_and_set(std::memory_order_acquire))
        return;
    if (logCount < LogLines)
        std::strncpy(logText[logCount++], message, LogLength - 1);
    logBusy.clear(std::memory_order_release);
}

QStringList loggedLines()
{
    while (logBusy.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
    QStringList lines;
    for (int i = 0; i < logCount; ++i)
        lines.append(QString::fromUtf8(logText[i]));
    logBusy.clear(std::memory_order_release);
    return lines;
}

void routeFluidLog(const FluidApi &fluid)
{
    static std::once_flag routed;
    std::call_once(routed, [&fluid] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid.fluid_set_log_function(level, &logMessage, nullptr);
    });
}

// The presets a buffer needs: the channels' initial ones, then what it selects or plays.
std::set<std::pair<int, int>> presetsOf(const std::uint8_t *data, std::size_t length)
{
    std::set<std::pair<int, int>> wanted{{0, 0}, {PercussionBank, 0}};
    int bank[ChannelCount] = {};
    bank[PercussionChannel] = PercussionBank;
    for (std::size_t offset = 0; offset + StreamEvent::Size <= length;
         offset += StreamEvent::Size) {
        const StreamEvent event = StreamEvent::decode(data + offset);
        const int channel = event.status() & StatusChannelMask;
        const int kind = event.isShortMessage() ? event.status() & StatusKindMask : 0;
        if (kind == NoteOffStatus || kind == NoteOnStatus)
            wanted.insert({bank[channel], 0});
        else if (kind == ProgramChangeStatus)
            wanted.insert({bank[channel], event.data1() & DataByteMask});
        else if (kind == ControlChangeStatus && event.data1() == controller::BankSelect &&
                 channel != PercussionChannel)
            bank[channel] = event.data2() & DataByteMask;
    }
    return wanted;
}

} // namespace

QStringList EngineConfig::defaultSoundFonts()
{
    const QDir folder(QString::fromLatin1(SoundFontFolder));
    QStringList paths{folder.filePath(QStringLiteral("default-GM.sf2"))};
    const auto others =
        folder.entryList({QStringLiteral("*.sf2")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : others)
        if (name != QLatin1String("default-GM.sf2"))
            paths.append(folder.filePath(name));
    return paths;
}

QStringList EngineConfig::desktopAudioDrivers()
{
    QStringList drivers{QStringLiteral("pulseaudio")};
    // Without a playback device ALSA's library prints errors of its own on stderr.
    if (!QDir(QStringLiteral("/dev/snd"))
             .entryList({QStringLiteral("pcmC*p")}, QDir::System)
             .isEmpty())
        drivers.append(QStringLiteral("alsa"));
    return drivers;
}

SynthEngine::SynthEngine(const EngineConfig &config) : config_(config)
{
    QString error;
    fluid_ = LoadFluidApi(&error);
    if (fluid_ == nullptr) {
        diagnostics_.append(QStringLiteral("no synthesizer: %1").arg(error));
        return;
    }
    routeFluidLog(*fluid_);
    settings_ = fluid_->new_fluid_settings();
    fluid_->fluid_settings_setnum(settings_, "synth.sample-rate", SampleRate);
    fluid_->fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_->fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    fluid_->fluid_settings_setint(settings_, "audio.period-size", config.periodSize);
    fluid_->fluid_settings_setint(settings_, "audio.periods", config.periods);
    synth_ = fluid_->new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        diagnostics_.append(QStringLiteral("the synthesizer could not be created"));
        return;
    }
    for (const QString &path : config.soundFonts) {
        if (!QFileInfo(path).isFile())
            continue;
        const int id = fluid_->fluid_synth_sfload(synth_, QFile::encodeName(path).constData(), 1);
        if (id != FLUID_FAILED) {
            soundFontId_ = id;
            soundFontPath_ = QFileInfo(path).canonicalFilePath();
            break;
        }
        diagnostics_.append(QStringLiteral("cannot load SoundFont %1").arg(path));
    }
    if (soundFontId_ < 0)
        diagnostics_.append(QStringLiteral("no SoundFont"));
    else
        loadPresets(nullptr, 0); // what a reset selects
}

SynthEngine::~SynthEngine()
{
    stopAudio();
    if (fluid_ == nullptr)
        return;
    if (synth_ != nullptr)
        fluid_->delete_fluid_synth(synth_);
    fluid_->delete_fluid_settings(settings_);
}

QString SynthEngine::diagnostics() const
{
    return (diagnostics_ + loggedLines()).join(QLatin1Char('\n'));
}

std::unique_ptr<Stream> SynthEngine::openStream(QObject *receiver)
{
    if (open_ != nullptr || !canPlay())
        return nullptr;
    auto stream = std::make_unique<SynthStream>(*this, receiver, ++lastStreamId_);
    open_ = stream.get();
    send({Command::Open, lastStreamId_});
    postNotification(receiver, Notification::Open);
    return stream;
}

void SynthEngine::detach(SynthStream *stream)
{
    if (open_ == stream)
        open_ = nullptr;
    sinceUse_.start();
}

void SynthEngine::service()
{
    Report report;
    while (reports_.pop(report))
        if (open_ != nullptr && open_->id() == report.stream)
            open_->deliver(report.notification, report.buffer);
    if (open_ != nullptr)
        open_->queuePending();
}

bool SynthEngine::loadPresets(const std::uint8_t *data, std::size_t length)
{
    if (soundFontId_ < 0)
        return true;
    const auto wanted = presetsOf(data, length);
    if (std::includes(pinned_.begin(), pinned_.end(), wanted.begin(), wanted.end()))
        return true;
    // Loading holds the synthesizer's lock while it reads samples, so it runs only while
    // nothing sounds, and the audio side outputs silence meanwhile instead of waiting.
    loading_.store(true);
    while (rendering_.load())
        std::this_thread::yield(); // the audio side leaves the synthesizer within one block
    const bool quiet = quiet_.load();
    if (quiet)
        for (const auto &[bank, program] : wanted)
            if (pinned_.insert({bank, program}).second) // a missing preset is not tried again
                fluid_->fluid_synth_pin_preset(synth_, soundFontId_, bank, program);
    loading_.store(false);
    return quiet;
}

} // namespace midiout
