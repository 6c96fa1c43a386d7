#include "SinkSupervisor.h"

#include "SynthCore.h"

#include <poll.h>

#include <chrono>

namespace midiout
{

namespace
{

// While audio runs, or a sink connects, the clock and the sink are looked at this often.
constexpr int WatchMs = 100;
// A sink not ready this long after it began to connect is given up: a server that does not
// answer within it is frozen or gone, and a request waiting for it is refused.
constexpr int ConnectMs = 1500;
// A sink that has just started may be held back by its server (a sleeping sink wakes up 2 s
// late), after the server has taken its first queue's worth: until the clock has moved this
// much further, a standing clock is given StartStallMs.
constexpr std::uint64_t StartFrames = 16384;
constexpr int StartStallMs = 3000;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

SinkSupervisor::SinkSupervisor(SynthCore &core, EngineCrossing &crossing, const SinkClient &client,
                               Timing timing)
    : core_(core), crossing_(crossing), client_([&client, this] {
          SinkClient ours = client;
          ours.changed = &SinkSupervisor::sinkChanged;
          ours.changedContext = this;
          return ours;
      }()),
      timing_(timing)
{
    thread_ = std::thread([this] { serve(); });
}

SinkSupervisor::~SinkSupervisor()
{
    quitting_.store(true);
    wake_.signal();
    thread_.join();
    drop();
}

void SinkSupervisor::sinkChanged(void *supervisor)
{
    static_cast<SinkSupervisor *>(supervisor)->wake_.signal();
}

bool SinkSupervisor::want()
{
    if (noWayOut_.load())
        return false;
    const std::lock_guard lock(sinkMutex_);
    if (sink_ == nullptr && audio_.load() == Audio::Unavailable) {
        audio_.store(Audio::Starting);
        wanted_.store(true);
        wake_.signal();
    }
    return true;
}

void SinkSupervisor::play(const std::function<void()> &publish)
{
    const std::lock_guard lock(sinkMutex_);
    if (sink_ == nullptr || sink_->state() != AudioSink::State::Ready)
        return publish();
    sink_->play(publish);
    if (!playing_) {
        playing_ = played_ = true;
        framesAtPlay_ = crossing_.frames.load();
        wake_.signal(); // the service thread watches the running clock from now
    }
}

bool SinkSupervisor::playing() const
{
    const std::lock_guard lock(sinkMutex_);
    return playing_;
}

void SinkSupervisor::setStream(bool open, bool running)
{
    streamOpen_.store(open);
    streamRunning_.store(running);
    if (open)
        wake_.signal();
}

std::unique_ptr<AudioSink> SinkSupervisor::takeSink()
{
    const std::lock_guard lock(sinkMutex_);
    playing_ = false;
    return std::move(sink_);
}

void SinkSupervisor::drop()
{
    wanted_.store(false);
    core_.waitLoaded(std::chrono::seconds(5)); // the thread that loads it must not outlive us
    takeSink().reset();                        // joins the sink's threads here, outside the lock
    audio_.store(Audio::Unavailable);
}

void SinkSupervisor::serve()
{
    // The sink connects while the synthesizer loads; it renders silence until it has loaded.
    if (wanted_.exchange(false))
        connect();
    core_.load();
    crossing_.controlWake.signal();                 // a stream waiting for the synthesizer may open
    if (core_.state() != SynthCore::Load::Loaded) { // nothing can sound: no sink is wanted
        noWayOut_.store(true);
        takeSink().reset();
        audio_.store(Audio::Unavailable);
        crossing_.controlWake.signal();
    }
    // The thread lives as long as the engine, which joins it (the built-in one sleeps through
    // the process's exit).
    while (!quitting_.load()) {
        if (wanted_.exchange(false))
            connect();
        watch();
        int timeoutMs = streamOpen_.load() ? WatchMs : -1;
        {
            const std::lock_guard lock(sinkMutex_);
            if (sink_ != nullptr && (playing_ || sink_->state() != AudioSink::State::Ready))
                timeoutMs = WatchMs;
        }
        pollfd wake{wake_.fd(), POLLIN, 0};
        ::poll(&wake, 1, timeoutMs);
        wake_.clear();
    }
}

void SinkSupervisor::connect()
{
    if (const std::lock_guard lock(sinkMutex_); sink_ != nullptr)
        return;
    // The renderer starts clean on the new sink, whatever the last one left.
    crossing_.sinkGeneration.fetch_add(1, std::memory_order_release);
    QString error;
    auto sink = OpenDesktopSink(client_, "MIDI synthesizer", &error);
    if (sink == nullptr) {
        core_.diagnostics().note(QStringLiteral("no audio output: %1").arg(error));
        noWayOut_.store(true);
        audio_.store(Audio::Unavailable);
        crossing_.controlWake.signal();
        return;
    }
    connectedAtMs_ = nowMs();
    const std::lock_guard lock(sinkMutex_);
    sink_ = std::move(sink);
}

void SinkSupervisor::watch()
{
    const std::int64_t now = nowMs();
    const std::uint64_t frames = crossing_.frames.load();
    std::unique_ptr<AudioSink> gone;
    {
        const std::lock_guard lock(sinkMutex_);
        if (sink_ == nullptr)
            return;
        const AudioSink::State state = sink_->state();
        if (state == AudioSink::State::Lost) {
            core_.diagnostics().note(sink_->error());
            gone = std::move(sink_);
        } else if (state == AudioSink::State::Connecting && now - connectedAtMs_ > ConnectMs) {
            core_.diagnostics().note(QStringLiteral("sound server: no answer"));
            gone = std::move(sink_);
        } else if (state == AudioSink::State::Ready &&
                   audio_.exchange(Audio::Ready) != Audio::Ready) {
            crossing_.controlWake.signal(); // a stream waiting for the sink may open
        }
        if (gone != nullptr) {
            playing_ = false;
        } else if (playing_) {
            if (played_ || frames != lastFrames_) {
                if (played_) // played since the last look: its use starts now
                    lastUseMs_ = now;
                played_ = false;
                lastFrames_ = frames;
                clockMovedMs_ = now;
            }
            const int stallMs =
                frames < framesAtPlay_ + StartFrames ? StartStallMs : timing_.stalledClockMs;
            if (streamRunning_.load() && now - clockMovedMs_ >= stallMs) {
                stalls_.fetch_add(1);
                clockMovedMs_ = now;
                crossing_.controlWake.signal();
            }
            if (streamOpen_.load() || !crossing_.quiet()) {
                lastUseMs_ = now;
            } else if (timing_.idleAudioMs >= 0 && now - lastUseMs_ >= timing_.idleAudioMs) {
                sink_->pause();
                playing_ = false;
            }
        }
    }
    if (gone != nullptr) {
        gone.reset(); // the open stream ends; the next request connects afresh
        audio_.store(Audio::Unavailable);
        crossing_.controlWake.signal();
    }
}

} // namespace midiout
