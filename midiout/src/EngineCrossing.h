#pragma once

// What crosses between the engine's threads, and nothing else. Each thread keeps the rest of its
// state in a class that only it touches:
// - the application's thread: StreamControl, which writes the play state and reads the reports;
// - the audio thread (the sound server client's own, or an offline caller): SynthRenderer, which
//   reads the play state, writes the reports and never waits;
// - the service thread of a real-time engine: SinkSupervisor, which connects, watches and drops
//   the sink (SinkCrossing) that the application's thread asks for and plays on (SynthDevice).
//
// A stream's life. The application's thread moves it; the audio thread follows the play state:
//
//   Closed  --open(), synthesizer and sink ready--> Paused    Open is posted
//   Closed  --open(), one of them not ready-------> Opening
//   Opening --both ready--------------------------> Paused    Open is posted
//   Opening --they cannot start, or close()-------> Closed    Close is posted, no Open
//   Paused  --restart()---------------------------> Running   the clock runs from tick 0
//   Running --stop()------------------------------> Paused    silenced; Done for a queued buffer
//   Running --its buffer played out---------------> Running   Done; a buffer queued next plays
//                                                             on the same clock
//   Paused, Running --close()---------------------> Closing   (at once Closed when nothing it
//                                                             played can still be unheard)
//   Closing --all it played is heard at the sink--> Closed    Close is posted
//   Closing --stop()------------------------------> Closed    cut; Close is posted at once
//   Paused, Running, Closing --sink lost or stalled--> Closed Done for a queued buffer, Close
//
// reset() silences and setTimeDivision() changes the tick in any open state; neither moves it.
// queue() and restart() are refused while Opening and Closing.

#include "AudioSink.h"

#include <midiout/OfflineOutput.h>
#include <midiout/Output.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace midiout
{

// The latest value written by one thread, read by another, without waiting on either side: a
// triple buffer. The reader sees every write in order or skips to a later one, never a torn one.
template <typename T> class LatestValue
{
public:
    // Writer only.
    void write(const T &value)
    {
        slots_[back_] = value;
        back_ = middle_.exchange(back_ | Fresh, std::memory_order_acq_rel) & Index;
    }
    // Reader only: the latest value written, or the initial one before any write.
    const T &read()
    {
        if (middle_.load(std::memory_order_relaxed) & Fresh)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & Index;
        return slots_[front_];
    }

private:
    static constexpr int Index = 3, Fresh = 4;
    T slots_[3] = {};
    std::atomic<int> middle_{1};
    int back_ = 0;  // writer's
    int front_ = 2; // reader's
};

// A wait-free queue of fixed capacity between one producer thread and one consumer thread.
template <typename T, std::size_t Capacity> class SpscRing
{
public:
    // Producer: false (and nothing queued) when the ring is full.
    bool push(const T &item)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity)
            return false;
        items_[tail % Capacity] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Consumer: false when the ring is empty.
    bool pop(T &item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return false;
        item = items_[head % Capacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> items_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

enum class StreamState : std::uint8_t { Closed, Opening, Paused, Running, Closing };

// Whether a stream's device can play.
enum class Readiness : std::uint8_t {
    Starting,    // it loads, or its way out connects: an open stream waits
    Ready,       // a stream plays
    Unavailable, // it cannot play: an opening stream gets Close alone, an open one ends
};

// The built-in synthesizer's sample rate (OfflineOutput tells it); it renders stereo.
constexpr double SampleRate = OfflineOutput::SampleRate;
constexpr int Channels = 2;

// What the audio thread plays; the application's thread publishes the whole of it at each change.
struct PlayState {
    static constexpr double OpenTickMicroseconds = 500000.0 / 96; // 96 ticks a quarter note
    static constexpr std::uint64_t Never = ~std::uint64_t(0);

    StreamState state = StreamState::Closed;
    std::uint32_t stream = 0;           // the stream's number, 0 while Closed
    const std::uint8_t *data = nullptr; // the queued buffer (the engine's copy), null for none
    std::size_t length = 0;
    std::uint32_t buffer = 0; // its number, reported back with its notifications
    double tickMicroseconds = OpenTickMicroseconds;
    std::uint32_t stops = 0;  // counts stops: each silences and stands the clock
    std::uint32_t resets = 0; // counts resets: each silences
    // Closing: the application's thread is woken once this frame has been heard at the sink
    // (on a graph port: has left for it).
    std::uint64_t wakeWhenHeard = Never;
};

// What the audio thread reports of the stream it played.
struct Report {
    std::uint32_t stream = 0;
    std::uint32_t buffer = 0;
    Notification notification{};
};

// What the synthesizer does; only the audio thread changes it, holding synthLock.
enum class Sound : std::uint8_t {
    Quiet,     // nothing sounds since the last reset: presets may be loaded
    Sounding,  // a note has been played since the last reset
    Silencing, // a stop's fade and mute are under way
};

// A wake-up that any thread may signal without blocking; one thread waits for it (poll() or a
// socket notifier on fd()).
class EventWake
{
public:
    EventWake() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventWake() { ::close(fd_); }
    EventWake(const EventWake &) = delete;
    EventWake &operator=(const EventWake &) = delete;

    int fd() const { return fd_; }
    void signal() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
    }
    void clear() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
    }

private:
    const int fd_;
};

struct EngineCrossing {
    static constexpr std::size_t ReportCapacity = 256;

    LatestValue<PlayState> played;                // application -> audio
    SpscRing<Report, ReportCapacity> reports;     // audio -> application
    std::atomic<bool> reportsLost{false};         // the ring was full: the stream ends
    std::atomic<std::uint64_t> frames{0};         // rendered, in whole blocks
    std::atomic<std::uint64_t> heard{0};          // frames the sink has played, at least
    std::atomic<Sound> sound{Sound::Quiet};       // audio -> application, service
    std::atomic<std::uint32_t> sinkGeneration{0}; // service -> audio: a new sink
    std::mutex synthLock;  // the audio thread's per block (try-lock); a preset load's while quiet
    EventWake controlWake; // audio, service -> application: reports or news of the sink

    bool quiet() const { return sound.load() == Sound::Quiet; }
};

// The desktop sink of a real-time engine, between the application's thread (SynthDevice), which
// asks for it and plays on it, and the service thread (SinkSupervisor), which connects it,
// watches its clock and drops it when it is lost.
struct SinkCrossing {
    // Starting while the synthesizer loads or a sink connects, Ready once a sink is, Unavailable
    // without one (the last was lost or could not connect; asking tries again).
    std::atomic<Readiness> audio{Readiness::Starting};         // both ways
    std::atomic<bool> wanted{true};                            // application -> service
    std::atomic<bool> quitting{false};                         // application -> service
    std::atomic<bool> noWayOut{false};                         // service -> application
    std::atomic<bool> streamOpen{false}, streamRunning{false}; // application -> service
    std::atomic<std::uint32_t> stalls{0};                      // service -> application
    EventWake serviceWake; // application, sink -> service: a request or news of the sink

    // Held briefly by both threads: the sink and whether it plays.
    std::mutex sinkMutex;
    std::unique_ptr<AudioSink> sink;
    bool playing = false;
    std::uint64_t framesAtPlay = 0;
    bool played = false; // played since the service thread last looked

    // The sink, taken out to be dropped outside the lock (dropping joins its threads).
    std::unique_ptr<AudioSink> take()
    {
        const std::lock_guard lock(sinkMutex);
        playing = false;
        return std::move(sink);
    }
    // Drops the sink on the calling thread: no audio until one is asked for again.
    void drop()
    {
        take().reset();
        audio.store(Readiness::Unavailable);
    }
};

// A stream's device on the MIDI graph, between the application's thread (MidiGraph), the graph's
// loop thread (its registry, link and watch) and the graph's data thread (GraphCycle).
struct GraphCrossing {
    // A new link carries events once our node has run this many cycles on the same clock with the
    // same quantum: while the graph moves the linked nodes to one driver and settles its quantum,
    // the instrument may read a buffer a cycle late or on another clock.
    static constexpr int LinkWarmCycles = 4;

    std::atomic<Readiness> readiness{Readiness::Unavailable}; // loop, data -> application
    std::atomic<int> warmCycles{0};       // loop -> data: cycles before a new link is ready
    std::atomic<std::uint32_t> stalls{0}; // loop -> application
    std::atomic<bool> lost{false};        // loop -> application: the daemon went away
};

// A MIDI input port of the graph.
struct GraphPort {
    std::uint32_t node = 0, id = 0; // the graph's global ids
    QString name;                   // node:port, as the graph's link tool names it
    QString description;            // the node's description, empty without one
};

// The graph's MIDI input ports, between the graph's loop thread, whose registry events write
// them, and the application's thread, which counts and opens from a copy. Each holds the mutex
// briefly; only the process's first count waits (answered), for the graph's first answer.
struct GraphDirectory {
    std::mutex mutex;
    std::condition_variable answered;
    bool firstAnswer = false; // the graph has listed what it had, or will never answer
    std::map<std::uint32_t, std::pair<QString, QString>> nodes; // id -> name, description
    std::vector<GraphPort> ports; // in the order they appeared, named by the port alone
};

} // namespace midiout
