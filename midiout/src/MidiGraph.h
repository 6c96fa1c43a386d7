#pragma once

// The MIDI side of the PipeWire graph for this process: a connection on a thread loop of its
// own, the directory of the graph's MIDI input ports (instruments behind the graph's MIDI bridge,
// software synthesizers, other programs' MIDI inputs), and the process's one MIDI output node,
// named after the application, linked to the port a stream plays on. The link stays five seconds
// after the last stream (so that the next request goes out in the next cycle); then it goes, and
// the node, linked to nothing, is no longer scheduled. A stream on another port moves the link.
//
// Threads, and what each touches:
// - the application's thread: every public member; it holds the loop's lock while it touches the
//   graph's objects and the link's state (a local lock, never a wait for the daemon), and owns
//   the stream control;
// - the loop's thread: the registry's, the link's and the node's events, and a watch that gives
//   up on a link that does not run, notices a clock that stands and unlinks an idle node;
// - the graph's data thread: GraphCycle alone.
// What crosses is in EngineCrossing.h: the directory of ports (GraphDirectory), the link's
// readiness, warm-up and stalls (GraphCrossing), and the stream's play state and reports.

#include "EngineCrossing.h"
#include "GraphCycle.h"
#include "PipeWireConnection.h"
#include "StreamControl.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QObject;

namespace midiout
{

class Stream;

class MidiGraph final : public StreamDevice
{
public:
    using Port = GraphPort;

    // Connects to the PipeWire daemon, if one answers (a refused socket fails at once), and
    // names its output node nodeName. firstOfProcess: the first count may wait for the answer.
    MidiGraph(const QString &nodeName, bool firstOfProcess);
    ~MidiGraph() override;
    MidiGraph(const MidiGraph &) = delete;
    MidiGraph &operator=(const MidiGraph &) = delete;

    // The graph's MIDI input ports now, in the order they appeared. The first call of the
    // process's first connection waits for the graph's first answer, FirstAnswerMs at most;
    // later ones never wait.
    static constexpr int FirstAnswerMs = 1000;
    std::vector<Port> ports();
    // Whether the port is still on the graph.
    bool listed(const Port &port);
    // Opens a stream on port: Open follows once our node's link to it runs, or Close alone when
    // it cannot be made. Null when a stream is open or the port is gone.
    std::unique_ptr<Stream> open(const Port &port, QObject *receiver);
    // The application object goes: the open stream ends.
    void applicationGone();
    // Whether the daemon went away (its ports with it) and no stream is open: a new connection
    // may take this one's place.
    bool spent() const { return shared_.lost.load() && control_.state() == StreamState::Closed; }
    // Whether it ever reached a daemon: one that did not holds no thread and no stream.
    bool reached() const { return connection_.connected(); }

    // StreamDevice, on the application's thread.
    bool want() override;
    Readiness readiness() const override { return shared_.readiness.load(); }
    void publish(const std::function<void()> &write, bool playNow, bool open,
                 bool running) override;
    bool waitsForEnd(bool unheard) const override;
    std::uint32_t stalls() const override { return shared_.stalls.load(); }
    bool realTime() const override { return true; }

private:
    void makeNode(const QString &nodeName);
    // A stream opens on port: the link to it is made, or kept when it is the last one's.
    void linkTo(const Port &port);
    void makeLink();
    void dropLink();
    void setReadiness(Readiness readiness);

    // The loop's thread.
    static void coreDone(void *graph, std::uint32_t id, int seq);
    static void coreError(void *graph, std::uint32_t id, int seq, int res, const char *message);
    static void registryGlobal(void *graph, std::uint32_t id, std::uint32_t permissions,
                               const char *type, std::uint32_t version, const spa_dict *props);
    static void registryGlobalRemove(void *graph, std::uint32_t id);
    static void nodeStateChanged(void *graph, pw_filter_state old, pw_filter_state state,
                                 const char *error);
    static void linkInfo(void *graph, const pw_link_info *info);
    static void linkRemoved(void *graph);
    static void watch(void *graph, std::uint64_t expirations);
    // The data thread: the node's cycle.
    static void process(void *graph, spa_io_position *position);

    PipeWireConnection connection_;
    const PipeWireApi *const pw_ = connection_.api(); // used once it has connected
    pw_registry *registry_ = nullptr;
    pw_filter *node_ = nullptr;
    spa_source *watchTimer_ = nullptr;
    spa_hook coreListener_{}, registryListener_{}, nodeListener_{};
    int firstSync_ = -1;

    GraphDirectory directory_;
    bool asked_ = false; // the application's: the first count has waited

    // The link, touched with the loop's lock held.
    Port target_;
    pw_proxy *link_ = nullptr;
    spa_hook linkListener_{}, linkObjectListener_{};
    std::uint32_t nodeId_ = SPA_ID_INVALID; // our node's, once the graph has it
    bool streamOpen_ = false, streamRunning_ = false;
    std::int64_t linkAskedMs_ = 0, clockMovedMs_ = 0, idleSinceMs_ = 0;
    std::uint64_t lastFrames_ = 0;

    EngineCrossing crossing_;
    GraphCrossing shared_;
    GraphCycle cycle_{crossing_, shared_};
    StreamControl control_{crossing_, *this}; // a stream opened on it must be gone first
};

} // namespace midiout
