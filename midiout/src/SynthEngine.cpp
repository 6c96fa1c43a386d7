// The control side of the engine: the synthesizer's set-up, the open stream, the notifications,
// the presets a buffer needs, and the sink's lifetime (connected when a stream wants it, paused
// when idle, dropped when lost).

#include "SynthEngine.h"

#include "FluidApi.h"
#include "MidiMessages_p.h"
#include "SynthStream.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace midiout
{

namespace
{

const char *const SoundFontFolder = "/usr/share/sounds/sf2";
// canPlay() waits this long for a connection still being made: a server answers within
// milliseconds (the engine connects as soon as it is built); one that is frozen costs this once,
// then the request is refused.
constexpr auto ConnectWait = std::chrono::milliseconds(500);
// While audio runs the service thread looks at the clock and the idle time this often.
constexpr int WatchMs = 100;
// A sink that has just started may be held back by its server (a sleeping sink wakes up 2 s
// late), after the server has taken its first queue's worth: until the clock has moved this
// much further, a standing clock is given StartStallMs.
constexpr std::uint64_t StartFrames = 16384;
constexpr int StartStallMs = 3000;
// A preset load gives up (and is tried again later) when the audio side holds the synthesizer
// this long, which only a stalled machine does.
constexpr auto LoadWait = std::chrono::milliseconds(50);

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// FluidSynth's messages are dropped: what fails is reported by our own diagnostics.
void dropLogMessage(int, const char *, void *) {}

void post(QObject *receiver, Notification notification)
{
    if (receiver != nullptr)
        QCoreApplication::postEvent(receiver, new NotificationEvent(notification));
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

QStringList DefaultSoundFonts()
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

SynthEngine::SynthEngine(const EngineConfig &config) : config_(config)
{
    QString error;
    fluid_ = LoadFluidApi(&error);
    if (fluid_ == nullptr) {
        diagnostics_.append(QStringLiteral("no synthesizer: %1").arg(error));
        return;
    }
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_->fluid_set_log_function(level, &dropLogMessage, nullptr);
    settings_ = fluid_->new_fluid_settings();
    fluid_->fluid_settings_setnum(settings_, "synth.sample-rate", SampleRate);
    fluid_->fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_->fluid_settings_setint(settings_, "synth.cpu-cores", 1);
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
    if (soundFontId_ < 0) {
        diagnostics_.append(QStringLiteral("no SoundFont"));
        return;
    }
    loadPresets(nullptr, 0); // what a reset selects
    if (config_.realTime) {
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        serviceThread_ = std::thread([this] { serveForever(); });
        const std::lock_guard lock(control_);
        connectSink(); // ready by the first request
    }
}

SynthEngine::~SynthEngine()
{
    {
        const std::lock_guard lock(control_);
        quitting_ = true;
        dropSink();
    }
    wake();
    if (serviceThread_.joinable())
        serviceThread_.join();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (synth_ != nullptr)
        fluid_->delete_fluid_synth(synth_);
    if (settings_ != nullptr)
        fluid_->delete_fluid_settings(settings_);
}

QString SynthEngine::diagnostics() const
{
    const std::lock_guard lock(control_);
    return diagnostics_.join(QLatin1Char('\n'));
}

void SynthEngine::note(const QString &problem)
{
    if (!problem.isEmpty() && (diagnostics_.isEmpty() || diagnostics_.last() != problem))
        diagnostics_.append(problem);
}

void SynthEngine::sinkChanged(void *engine)
{
    auto *self = static_cast<SynthEngine *>(engine);
    self->sinkSettled_.notify_all();
    self->wake();
}

bool SynthEngine::canPlay()
{
    if (!hasSoundFont())
        return false;
    if (!config_.realTime)
        return true;
    std::unique_lock lock(control_);
    if (quitting_ || !connectSink())
        return false;
    sinkSettled_.wait_for(lock, ConnectWait,
                          [this] { return sink_->state() != AudioSink::State::Connecting; });
    if (sink_->state() == AudioSink::State::Lost)
        note(sink_->error());
    return sink_->state() == AudioSink::State::Ready;
}

bool SynthEngine::connectSink()
{
    // Under control_: a sink that is lost is replaced; connecting goes on without waiting.
    if (sink_ != nullptr && sink_->state() != AudioSink::State::Lost)
        return true;
    dropSink();
    QString error;
    sink_ = OpenDesktopSink({&SynthEngine::renderInto, &SynthEngine::sinkChanged, this},
                            "MIDI synthesizer", &error);
    if (sink_ == nullptr)
        note(QStringLiteral("no audio output: %1").arg(error));
    return sink_ != nullptr;
}

bool SynthEngine::audioRunning()
{
    const std::lock_guard lock(control_);
    return sink_ != nullptr && sinkPlaying_ && sink_->state() == AudioSink::State::Ready;
}

void SynthEngine::dropSink()
{
    // Under control_. Joining the sink's thread waits only for a render in progress; afterwards
    // no thread renders, and the audio side is put in order here: what the last sink left
    // sounding or half-rendered is never heard by the next one.
    endOpenStream();
    sink_.reset();
    sinkPlaying_ = false;
    const std::lock_guard synth(synthLock_);
    player_.stop();
    playerBuffer_ = 0;
    seen_ = state_;
    tickFrames_ = state_.tickFrames;
    if (synth_ != nullptr) {
        fluid_->fluid_synth_all_sounds_off(synth_, -1);
        resetSynth();
    }
    sound_.store(Sound::Quiet);
    blockUsed_ = BlockFrames;
    Report stale;
    while (reports_.pop(stale)) {
    }
    retired_.clear();
}

void SynthEngine::stopAudio()
{
    const std::lock_guard lock(control_);
    dropSink();
}

std::unique_ptr<Stream> SynthEngine::openStream(QObject *receiver)
{
    if (!canPlay())
        return nullptr;
    const std::lock_guard lock(control_);
    if (open_.id != 0)
        return nullptr;
    open_.id = ++lastStreamId_;
    open_.receiver = receiver;
    PlayState fresh;
    fresh.stream = open_.id;
    fresh.stops = state_.stops;
    fresh.resets = state_.resets;
    state_ = fresh;
    publish(false);
    lastUseMs_ = nowMs();
    post(receiver, Notification::Open);
    return std::make_unique<SynthStream>(*this, open_.id);
}

void SynthEngine::publish(bool playNow)
{
    played_.write(state_);
    // Buffers retired before this state went out count from now: a block under way may still
    // read them, the next one follows this state.
    const std::uint64_t frames = synthesizerFrames();
    for (const auto &buffer : retired_)
        if (buffer->retiredAt == Buffer::NotYet)
            buffer->retiredAt = frames;
    if (!playNow || sink_ == nullptr || sink_->state() != AudioSink::State::Ready)
        return;
    // What the audio side renders next is heard next, not after what the server still holds.
    sink_->play();
    if (!sinkPlaying_) {
        sinkPlaying_ = true;
        framesAtPlay_ = lastFrames_ = synthesizerFrames();
        clockMovedMs_ = nowMs();
    }
}

bool SynthEngine::reset(std::uint32_t stream)
{
    const std::lock_guard lock(control_);
    if (!isOpen(stream))
        return false;
    ++state_.resets;
    publish(state_.running && open_.queued != nullptr);
    return true;
}

bool SynthEngine::setTickFrames(std::uint32_t stream, double tickFrames)
{
    const std::lock_guard lock(control_);
    if (!isOpen(stream))
        return false;
    state_.tickFrames = tickFrames;
    publish(false);
    return true;
}

bool SynthEngine::queue(std::uint32_t stream, const std::uint8_t *data, std::size_t length)
{
    const std::lock_guard lock(control_);
    if (!isOpen(stream) || open_.queued != nullptr)
        return false;
    // The engine plays its own copy: the caller may reuse its memory at once.
    open_.queued = std::make_unique<Buffer>();
    open_.queued->bytes.assign(data, data + length);
    open_.queued->number = ++lastBufferNumber_;
    open_.waitsForPresets = true;
    handOver(false);
    return true;
}

void SynthEngine::handOver(bool deferred)
{
    if (!open_.waitsForPresets ||
        !loadPresets(open_.queued->bytes.data(), open_.queued->bytes.size()))
        return; // the service thread tries again once the synthesizer is quiet
    open_.waitsForPresets = false;
    state_.data = open_.queued->bytes.data();
    state_.length = open_.queued->bytes.size();
    state_.buffer = open_.queued->number;
    publish(deferred && state_.running);
}

bool SynthEngine::loadPresets(const std::uint8_t *data, std::size_t length)
{
    const auto wanted = presetsOf(data, length);
    if (std::includes(pinned_.begin(), pinned_.end(), wanted.begin(), wanted.end()))
        return true;
    // Loading holds the synthesizer while it reads samples, so it runs only while nothing
    // sounds; the audio side renders silence meanwhile instead of waiting.
    if (!quiet())
        return false;
    const auto deadline = std::chrono::steady_clock::now() + LoadWait;
    while (!synthLock_.try_lock()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield(); // the audio side leaves the synthesizer within one block
    }
    const bool quiet = this->quiet(); // only the audio side changes it, holding the lock
    if (quiet)
        for (const auto &[bank, program] : wanted)
            if (pinned_.insert({bank, program}).second) // a missing preset is not tried again
                fluid_->fluid_synth_pin_preset(synth_, soundFontId_, bank, program);
    synthLock_.unlock();
    return quiet;
}

bool SynthEngine::restart(std::uint32_t stream)
{
    const std::lock_guard lock(control_);
    if (!isOpen(stream))
        return false;
    if (!state_.running) {
        state_.running = true;
        publish(true);
    }
    return true;
}

void SynthEngine::stop(std::uint32_t stream)
{
    const std::lock_guard lock(control_);
    if (!isOpen(stream))
        return;
    // A stream still playing its buffer is cut at once; one whose pass has ended keeps what the
    // server still holds of its last notes.
    const bool queued = open_.queued != nullptr;
    state_.running = false;
    ++state_.stops;
    retireQueued();
    publish(queued);
    if (queued)
        post(open_.receiver, Notification::Done);
}

void SynthEngine::retireQueued()
{
    // Under control_: the queued buffer leaves the state, and its memory is freed once the
    // audio side has passed a block after the next publish(), which every caller makes.
    state_.data = nullptr;
    state_.length = 0;
    state_.buffer = 0;
    open_.waitsForPresets = false;
    if (open_.queued == nullptr)
        return;
    retired_.push_back(std::move(open_.queued));
}

void SynthEngine::close(std::uint32_t stream, bool postClose)
{
    const std::lock_guard lock(control_);
    if (isOpen(stream))
        closeLocked(postClose);
}

void SynthEngine::closeLocked(bool postClose)
{
    const bool playing = state_.running && open_.queued != nullptr;
    retireQueued();
    PlayState none;
    none.stops = state_.stops;
    none.resets = state_.resets;
    state_ = none;
    publish(playing);
    QObject *receiver = open_.receiver;
    open_ = {};
    lastUseMs_ = nowMs();
    if (postClose)
        post(receiver, Notification::Close);
}

void SynthEngine::endOpenStream()
{
    // The stream ends as a stop ends it: Done for a queued buffer, then Close.
    if (open_.id == 0)
        return;
    if (open_.queued != nullptr)
        post(open_.receiver, Notification::Done);
    closeLocked(true);
}

void SynthEngine::service()
{
    const std::lock_guard lock(control_);
    Report report;
    while (reports_.pop(report)) {
        if (!isOpen(report.stream) || open_.queued == nullptr ||
            open_.queued->number != report.buffer)
            continue; // of a buffer stopped since
        if (report.notification == Notification::Done) {
            retireQueued();
            publish(false);
        }
        post(open_.receiver, report.notification);
    }
    if (reportsLost_.exchange(false))
        endOpenStream();
    handOver(true);
    const std::uint64_t frames = synthesizerFrames();
    std::erase_if(retired_, [frames](const std::unique_ptr<Buffer> &buffer) {
        return buffer->retiredAt != Buffer::NotYet && frames >= buffer->retiredAt + 2 * BlockFrames;
    });
    if (sink_ != nullptr)
        watchSink();
}

void SynthEngine::watchSink()
{
    if (sink_->state() == AudioSink::State::Lost) {
        note(sink_->error());
        dropSink(); // the open stream ends; the next request connects afresh
        return;
    }
    const std::int64_t now = nowMs();
    const std::uint64_t frames = synthesizerFrames();
    if (frames != lastFrames_) {
        lastFrames_ = frames;
        clockMovedMs_ = now;
    }
    if (!sinkPlaying_)
        return;
    const int stallMs =
        frames < framesAtPlay_ + StartFrames ? StartStallMs : config_.stalledClockMs;
    if (open_.id != 0 && state_.running && now - clockMovedMs_ >= stallMs)
        endOpenStream();
    if (open_.id != 0 || !quiet()) {
        lastUseMs_ = now;
    } else if (config_.idleAudioMs >= 0 && now - lastUseMs_ >= config_.idleAudioMs) {
        sink_->pause();
        sinkPlaying_ = false;
    }
}

void SynthEngine::serveForever()
{
    for (;;) {
        int timeoutMs = -1;
        {
            const std::lock_guard lock(control_);
            if (quitting_)
                return;
            if (sinkPlaying_ || open_.id != 0) // else asleep until the next report or request
                timeoutMs = WatchMs;
        }
        pollfd wake{wakeFd_, POLLIN, 0};
        ::poll(&wake, 1, timeoutMs);
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
        service();
    }
}

} // namespace midiout
