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

SinkSupervisor::SinkSupervisor(SynthCore &core, EngineCrossing &crossing, SinkCrossing &shared,
                               const SinkClient &client, Timing timing)
    : core_(core), crossing_(crossing), shared_(shared), client_([&client, this] {
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
    shared_.quitting.store(true);
    shared_.serviceWake.signal();
    thread_.join();
    shared_.drop();
}

void SinkSupervisor::sinkChanged(void *supervisor)
{
    static_cast<SinkSupervisor *>(supervisor)->shared_.serviceWake.signal();
}

void SinkSupervisor::serve()
{
    // The sink connects while the synthesizer loads; it renders silence until it has loaded.
    if (shared_.wanted.exchange(false))
        connect();
    core_.load();
    crossing_.controlWake.signal();                 // a stream waiting for the synthesizer may open
    if (core_.state() != SynthCore::Load::Loaded) { // nothing can sound: no sink is wanted
        shared_.noWayOut.store(true);
        shared_.drop();
        crossing_.controlWake.signal();
    }
    // The thread lives as long as the engine, which joins it (the built-in one sleeps through
    // the process's exit).
    while (!shared_.quitting.load()) {
        if (shared_.wanted.exchange(false))
            connect();
        watch();
        int timeoutMs = shared_.streamOpen.load() ? WatchMs : -1;
        {
            const std::lock_guard lock(shared_.sinkMutex);
            if (shared_.sink != nullptr &&
                (shared_.playing || shared_.sink->state() != AudioSink::State::Ready))
                timeoutMs = WatchMs;
        }
        pollfd wake{shared_.serviceWake.fd(), POLLIN, 0};
        ::poll(&wake, 1, timeoutMs);
        shared_.serviceWake.clear();
    }
}

void SinkSupervisor::connect()
{
    if (const std::lock_guard lock(shared_.sinkMutex); shared_.sink != nullptr)
        return;
    // The renderer starts clean on the new sink, whatever the last one left.
    crossing_.sinkGeneration.fetch_add(1, std::memory_order_release);
    QString error;
    auto sink = OpenDesktopSink(client_, "MIDI synthesizer", &error);
    if (sink == nullptr) {
        core_.diagnostics().note(QStringLiteral("no audio output: %1").arg(error));
        shared_.noWayOut.store(true);
        shared_.audio.store(Readiness::Unavailable);
        crossing_.controlWake.signal();
        return;
    }
    connectedAtMs_ = nowMs();
    const std::lock_guard lock(shared_.sinkMutex);
    shared_.sink = std::move(sink);
}

void SinkSupervisor::watch()
{
    const std::int64_t now = nowMs();
    const std::uint64_t frames = crossing_.frames.load();
    std::unique_ptr<AudioSink> gone;
    {
        const std::lock_guard lock(shared_.sinkMutex);
        if (shared_.sink == nullptr)
            return;
        const AudioSink::State state = shared_.sink->state();
        if (state == AudioSink::State::Lost) {
            core_.diagnostics().note(shared_.sink->error());
            gone = std::move(shared_.sink);
        } else if (state == AudioSink::State::Connecting && now - connectedAtMs_ > ConnectMs) {
            core_.diagnostics().note(QStringLiteral("sound server: no answer"));
            gone = std::move(shared_.sink);
        } else if (state == AudioSink::State::Ready &&
                   shared_.audio.exchange(Readiness::Ready) != Readiness::Ready) {
            crossing_.controlWake.signal(); // a stream waiting for the sink may open
        }
        if (gone != nullptr) {
            shared_.playing = false;
        } else if (shared_.playing) {
            if (shared_.played || frames != lastFrames_) {
                if (shared_.played) // played since the last look: its use starts now
                    lastUseMs_ = now;
                shared_.played = false;
                lastFrames_ = frames;
                clockMovedMs_ = now;
            }
            const int stallMs =
                frames < shared_.framesAtPlay + StartFrames ? StartStallMs : timing_.stalledClockMs;
            if (shared_.streamRunning.load() && now - clockMovedMs_ >= stallMs) {
                shared_.stalls.fetch_add(1);
                clockMovedMs_ = now;
                crossing_.controlWake.signal();
            }
            if (shared_.streamOpen.load() || !crossing_.quiet()) {
                lastUseMs_ = now;
            } else if (timing_.idleAudioMs >= 0 && now - lastUseMs_ >= timing_.idleAudioMs) {
                shared_.sink->pause();
                shared_.playing = false;
            }
        }
    }
    if (gone != nullptr) {
        gone.reset(); // the open stream ends; the next request connects afresh
        shared_.audio.store(Readiness::Unavailable);
        crossing_.controlWake.signal();
    }
}

} // namespace midiout
