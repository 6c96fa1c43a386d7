#include "SynthEngine.h"

#include "SynthStream.h"

#include <midiout/MidiMessages.h>

#include <QDir>
#include <QFileInfo>

#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace midiout
{

namespace
{

const char *const SoundFontFolder = "/usr/share/sounds/sf2";

// Collects FluidSynth's messages while the engine is built, instead of printing them.
class LogCapture
{
public:
    explicit LogCapture(QStringList &lines) : lines_(lines)
    {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            previous_[level] = fluid_set_log_function(level, &LogCapture::log, this);
    }
    ~LogCapture()
    {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, previous_[level], nullptr);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

private:
    static void log(int level, const char *message, void *data)
    {
        if (level <= FLUID_WARN)
            static_cast<LogCapture *>(data)->lines_.append(QString::fromUtf8(message));
    }
    QStringList &lines_;
    fluid_log_function_t previous_[LAST_LOG_LEVEL] = {};
};

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
    QStringList drivers{QStringLiteral("pipewire"), QStringLiteral("pulseaudio")};
    // Without a playback device ALSA's library prints errors of its own on stderr.
    if (!QDir(QStringLiteral("/dev/snd"))
             .entryList({QStringLiteral("pcmC*p")}, QDir::System)
             .isEmpty())
        drivers.append(QStringLiteral("alsa"));
    return drivers;
}

SynthEngine::SynthEngine(const EngineConfig &config)
{
    LogCapture capture(diagnostics_);
    settings_ = new_fluid_settings();
    fluid_settings_setnum(settings_, "synth.sample-rate", SampleRate);
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        diagnostics_.append(QStringLiteral("the synthesizer could not be created"));
        return;
    }
    for (const QString &path : config.soundFonts) {
        if (!QFileInfo(path).isFile())
            continue;
        const int id = fluid_synth_sfload(synth_, QFile::encodeName(path).constData(), 1);
        if (id != FLUID_FAILED) {
            soundFontId_ = id;
            soundFontPath_ = QFileInfo(path).canonicalFilePath();
            break;
        }
        diagnostics_.append(QStringLiteral("cannot load SoundFont %1").arg(path));
    }
    fluid_synth_get_reverb_group_level(synth_, 0, &reverbLevel_);
    setEffectsOn(false);
    if (soundFontId_ < 0)
        diagnostics_.append(QStringLiteral("no SoundFont"));
    else
        pinPresets(nullptr, 0);

    // The sequencer runs on the synthesizer's sample clock and carries only our timer events.
    // It is bound before anything renders, so its time is 0 at the synthesizer's frame 0.
    sequencer_ = new_fluid_sequencer2(0);
    fluid_sequencer_register_fluidsynth(sequencer_, synth_);
    client_ = fluid_sequencer_register_client(sequencer_, "noggix-player",
                                              &SynthEngine::timerCallback, this);
    audioEvent_ = new_fluid_event();
    fluid_event_set_source(audioEvent_, -1);
    fluid_event_set_dest(audioEvent_, client_);

    if (config.audioDrivers.isEmpty()) {
        clockedByRender_ = true;
        return;
    }
    if (soundFontId_ < 0)
        return;
    if (findAudioDriver(config) && config.idleAudioMs >= 0)
        audioKeeper_ = std::thread([this, idle = config.idleAudioMs] { keepAudio(idle); });
}

SynthEngine::~SynthEngine()
{
    stopAudio();
    if (sequencer_ != nullptr)
        delete_fluid_sequencer(sequencer_);
    if (audioEvent_ != nullptr)
        delete_fluid_event(audioEvent_);
    if (synth_ != nullptr)
        delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

bool SynthEngine::canPlay() const
{
    return hasSoundFont() && (hasAudioDriver() || clockedByRender_);
}

std::unique_ptr<Stream> SynthEngine::openStream(QObject *receiver)
{
    if (!canPlay() || (!clockedByRender_ && !ensureAudio()))
        return nullptr;
    auto stream = std::make_unique<SynthStream>(*this, receiver);
    postNotification(receiver, Notification::Open);
    return stream;
}

void SynthEngine::renderBlock(float *left, float *right)
{
    fluid_synth_write_float(synth_, BlockFrames, left, 0, 1, right, 0, 1);
}

void SynthEngine::setRecording(bool on)
{
    recording_ = on;
}

std::vector<HandedEvent> SynthEngine::record() const
{
    std::lock_guard lock(streamsMutex_);
    return record_;
}

void SynthEngine::clearRecord()
{
    std::lock_guard lock(streamsMutex_);
    record_.clear();
}

int SynthEngine::controller(int channel, int number) const
{
    int value = -1;
    fluid_synth_get_cc(synth_, channel, number, &value);
    return value;
}

int SynthEngine::pitchBend(int channel) const
{
    int value = -1;
    fluid_synth_get_pitch_bend(synth_, channel, &value);
    return value;
}

int SynthEngine::activeVoiceCount() const
{
    return fluid_synth_get_active_voice_count(synth_);
}

// Timer data: kind in bits 0-1, stream id in bits 2-21, run in bits 22-63.
std::uintptr_t SynthEngine::timerData(TimerKind kind, std::uint32_t stream, std::uint64_t run)
{
    static_assert(sizeof(std::uintptr_t) == 8, "timer data packs 64 bits");
    return std::uintptr_t(kind) | std::uintptr_t(stream & 0xFFFFF) << 2 | std::uintptr_t(run) << 22;
}

void SynthEngine::timerCallback(unsigned int time, fluid_event_t *event, fluid_sequencer_t *,
                                void *data)
{
    if (fluid_event_get_type(event) != FLUID_SEQ_TIMER)
        return;
    static_cast<SynthEngine *>(data)->onTimer(
        time, reinterpret_cast<std::uintptr_t>(fluid_event_get_data(event)));
}

void SynthEngine::onTimer(unsigned int time, std::uintptr_t data)
{
    const auto kind = TimerKind(data & 3);
    if (kind == SilenceRequest || kind == SilenceStep) {
        silenceStep(time, kind == SilenceStep);
        return;
    }
    std::lock_guard lock(streamsMutex_);
    const auto it = streams_.find(std::uint32_t(data >> 2 & 0xFFFFF));
    if (it != streams_.end())
        it->second->onTimer(kind == StreamStart, data >> 22, time);
}

unsigned int SynthEngine::msOfBlock(std::uint64_t block) const
{
    // The same expression as the synthesizer's sample timer, so the result matches exactly.
    return (unsigned int)(long)(1000.0 * double(block * BlockFrames) / SampleRate);
}

std::uint64_t SynthEngine::blockAt(unsigned int ms) const
{
    // Blocks last longer than 1 ms, so each has a sequencer time of its own.
    auto block = std::uint64_t(std::ceil(double(ms) * SampleRate / 1000.0 / BlockFrames));
    while (block > 0 && msOfBlock(block - 1) >= ms)
        --block;
    while (msOfBlock(block) < ms)
        ++block;
    return block;
}

unsigned int SynthEngine::now() const
{
    return fluid_sequencer_get_tick(sequencer_);
}

void SynthEngine::schedule(std::uintptr_t data, unsigned int time, bool fromAudio)
{
    fluid_event_t *event = audioEvent_;
    if (!fromAudio) {
        event = new_fluid_event();
        fluid_event_set_source(event, -1);
        fluid_event_set_dest(event, client_);
    }
    fluid_event_timer(event, reinterpret_cast<void *>(data));
    fluid_sequencer_send_at(sequencer_, event, time, 1);
    if (!fromAudio)
        delete_fluid_event(event);
}

std::uint32_t SynthEngine::attach(SynthStream *stream)
{
    {
        std::lock_guard audio(audioMutex_);
        lastUse_ = std::chrono::steady_clock::now();
    }
    std::lock_guard lock(streamsMutex_);
    std::uint32_t id = nextStreamId_;
    while (id == 0 || streams_.count(id) != 0)
        id = (id + 1) & 0xFFFFF;
    nextStreamId_ = (id + 1) & 0xFFFFF;
    streams_[id] = stream;
    return id;
}

void SynthEngine::detach(std::uint32_t id)
{
    {
        std::lock_guard lock(streamsMutex_);
        streams_.erase(id);
    }
    std::lock_guard audio(audioMutex_);
    lastUse_ = std::chrono::steady_clock::now();
    audioChanged_.notify_all();
}

void SynthEngine::pinPresets(const std::uint8_t *data, std::size_t length)
{
    if (soundFontId_ < 0)
        return;
    // The channels' initial presets, then what the buffer selects or plays.
    std::set<std::pair<int, int>> wanted{{0, 0}, {PercussionBank, 0}};
    int bank[Channels] = {};
    bank[PercussionChannel] = PercussionBank;
    for (std::size_t offset = 0; offset + StreamEvent::Size <= length;
         offset += StreamEvent::Size) {
        const StreamEvent event = StreamEvent::decode(data + offset);
        if (!event.isShortMessage())
            continue;
        const int channel = event.status() & StatusChannelMask;
        switch (event.status() & StatusKindMask) {
        case NoteOffStatus:
        case NoteOnStatus:
            wanted.insert({bank[channel], 0});
            break;
        case ControlChangeStatus:
            if (event.data1() == controller::BankSelect && channel != PercussionChannel)
                bank[channel] = event.data2() & DataByteMask;
            break;
        case ProgramChangeStatus:
            wanted.insert({bank[channel], event.data1() & DataByteMask});
            break;
        }
    }
    std::lock_guard lock(pinMutex_);
    for (const auto &[presetBank, program] : wanted)
        if (pinned_.count({presetBank, program}) == 0 &&
            fluid_synth_pin_preset(synth_, soundFontId_, presetBank, program) == FLUID_OK)
            pinned_.insert({presetBank, program});
}

bool SynthEngine::play(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int channel = status & StatusChannelMask;
    data1 &= DataByteMask;
    data2 &= DataByteMask;
    switch (status & StatusKindMask) {
    case NoteOffStatus:
        fluid_synth_noteoff(synth_, channel, data1);
        return true;
    case NoteOnStatus:
        if (data2 == 0) {
            fluid_synth_noteoff(synth_, channel, data1);
        } else {
            if (!soundSinceReset_)
                setEffectsOn(true);
            fluid_synth_noteon(synth_, channel, data1, data2);
            soundSinceReset_ = true;
        }
        return true;
    case ControlChangeStatus:
        fluid_synth_cc(synth_, channel, data1, data2);
        return true;
    case ProgramChangeStatus:
        fluid_synth_program_change(synth_, channel, data1);
        return true;
    case PitchBendStatus:
        fluid_synth_pitch_bend(synth_, channel, data1 | data2 << 7);
        return true;
    default:
        return false;
    }
}

void SynthEngine::setEffectsOn(bool on)
{
    // Reverb and chorus cost most of the rendering of silence; they run only from a note on
    // to the reset that follows it, which leaves them empty.
    fluid_synth_reverb_on(synth_, -1, on);
    fluid_synth_chorus_on(synth_, -1, on);
}

void SynthEngine::addRecord(const HandedEvent &event)
{
    if (recording_)
        record_.push_back(event); // the stream lock is held by the timer
}

} // namespace midiout
