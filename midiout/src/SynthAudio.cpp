// The engine's audio driver, on the GUI thread: started for a stream, watched while it runs,
// dropped when its clock stops (the sound server went away) or after idleAudioMs without a
// stream, and started afresh for the next one.

#include "SynthEngine.h"

#include "SynthStream.h"

#include <QSocketNotifier>
#include <QTimer>

#include "FluidApi.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace midiout
{

namespace
{

// The sample clock of a running driver moves every period (46 ms); standing still this long
// means that the sound server has gone away. The watchdog looks at it every WatchMs. A server
// may hold a new connection's first periods back for a while (a null sink wakes up to 2 s late);
// until the clock has moved a few periods it is given StartupStallMs.
constexpr int ClockStoppedMs = 150;
constexpr int StartupStallMs = 3000;
constexpr int WatchMs = 50;

} // namespace

bool SynthEngine::canPlay()
{
    if (!hasSoundFont())
        return false;
    if (config_.audioDrivers.isEmpty())
        return true;
    if (driver_ != nullptr)
        watch();
    return driver_ != nullptr || startDriver();
}

bool SynthEngine::startDriver()
{
    if (audioStopped_)
        return false;
    if (wakeFd_ < 0) {
        // The GUI side's objects live on the thread that uses the engine first.
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
        QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, [this] {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
            service();
        });
        watchdog_ = std::make_unique<QTimer>();
        watchdog_->setInterval(WatchMs);
        QObject::connect(watchdog_.get(), &QTimer::timeout, [this] { watch(); });
    }
    for (const QString &name : config_.audioDrivers) {
        fluid_->fluid_settings_setstr(settings_, "audio.driver", name.toLatin1().constData());
        driver_ = fluid_->new_fluid_audio_driver2(settings_, &SynthEngine::audioCallback, this);
        if (driver_ != nullptr) {
            lastFrames_ = driverStartFrames_ = synthesizerFrames();
            sinceClockMoved_.start();
            sinceUse_.start();
            watchdog_->start();
            return true;
        }
    }
    const QString failure = QStringLiteral("no audio output (tried %1)")
                                .arg(config_.audioDrivers.join(QStringLiteral(", ")));
    if (diagnostics_.isEmpty() || diagnostics_.last() != failure)
        diagnostics_.append(failure);
    return false;
}

void SynthEngine::watch()
{
    const std::uint64_t frames = synthesizerFrames();
    if (frames != lastFrames_) {
        lastFrames_ = frames;
        sinceClockMoved_.start();
    } else if (sinceClockMoved_.elapsed() >=
               (frames >= driverStartFrames_ + 4 * std::uint64_t(config_.periodSize)
                    ? ClockStoppedMs
                    : StartupStallMs)) {
        // The sound server has gone away: the open stream ends as a stop ends it.
        dropDriver();
        if (open_ != nullptr)
            open_->end();
        return;
    }
    if (open_ != nullptr || !quiet_.load())
        sinceUse_.start();
    else if (config_.idleAudioMs >= 0 && sinceUse_.elapsed() >= config_.idleAudioMs)
        dropDriver();
}

void SynthEngine::dropDriver()
{
    if (driver_ == nullptr)
        return;
    watchdog_->stop();
    fluid_->delete_fluid_audio_driver(driver_); // joins the audio thread
    driver_ = nullptr;
    // The audio side is ours now: what it left undone is done here, so that nothing of it
    // sounds when the next driver starts.
    Command c;
    while (commands_.pop(c)) {
    }
    player_.stop();
    current_ = 0;
    if (silenceFrames_ >= 0 || soundSinceReset_) {
        fluid_->fluid_synth_all_sounds_off(synth_, -1);
        resetSynth();
    }
    quiet_.store(true);
    service();
}

void SynthEngine::stopAudio()
{
    dropDriver();
    audioStopped_ = true;
    wakeNotifier_.reset();
    watchdog_.reset();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    wakeFd_ = -1;
}

} // namespace midiout
