#include "MidiGraph.h"

#include <spa/control/control.h>
#include <spa/param/buffers.h>
#include <spa/pod/builder.h>
#include <spa/utils/dict.h>
#include <spa/utils/result.h>

#include <chrono>
#include <cstring>

namespace midiout
{

namespace
{

// A graph cycle of at most this many frames: the quantum of the built-in synthesizer's stream.
constexpr const char *NodeLatency = "256/48000";
// Room for the largest stream's events in one cycle, each a control with its message.
constexpr int BufferBytes = 256 * 1024;
// While a link is wanted it is looked at this often; one that does not run within LinkMs is
// given up, and a running stream whose clock stands StalledMs has stalled.
constexpr long WatchMs = 100;
constexpr std::int64_t LinkMs = 1500;
constexpr std::int64_t StalledMs = 1250;
// Our node stays linked this long after its last stream, so that the next request on the port
// is sent in the next cycle; then the link goes and the node, linked to nothing, is no longer
// scheduled, so that the graph (and the instrument's driver) may sleep. This is the session
// manager's own time before it suspends an idle node. The node cannot sleep while linked:
// pw_filter_set_active() does nothing in PipeWire 0.3.65.
constexpr std::int64_t IdleMs = 5000;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

MidiGraph::MidiGraph(const QString &nodeName, bool firstOfProcess)
    : connection_("midiout-graph", nullptr), asked_(!firstOfProcess)
{
    if (!connection_.connected()) { // no daemon: no graph devices
        directory_.firstAnswer = true;
        shared_.lost.store(true);
        return;
    }
    static constexpr pw_core_events Events = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = &MidiGraph::coreDone;
        events.error = &MidiGraph::coreError;
        return events;
    }();
    pw_core *core = connection_.core();
    pw_core_add_listener(core, &coreListener_, &Events, this);
    static constexpr pw_registry_events RegistryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &MidiGraph::registryGlobal;
        events.global_remove = &MidiGraph::registryGlobalRemove;
        return events;
    }();
    registry_ = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry_, &registryListener_, &RegistryEvents, this);
    firstSync_ = pw_core_sync(core, PW_ID_CORE, 0);
    makeNode(nodeName);
    watchTimer_ = pw_loop_add_timer(connection_.loop(), &MidiGraph::watch, this);
    if (!connection_.start()) {
        const std::lock_guard lock(directory_.mutex);
        directory_.firstAnswer = true;
    }
}

MidiGraph::~MidiGraph()
{
    connection_.stop();
    if (link_ != nullptr)
        pw_->pw_proxy_destroy(link_);
    if (node_ != nullptr)
        pw_->pw_filter_destroy(node_);
    if (registry_ != nullptr)
        pw_->pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry_));
}

void MidiGraph::makeNode(const QString &nodeName)
{
    static constexpr pw_filter_events NodeEvents = [] {
        pw_filter_events events{};
        events.version = PW_VERSION_FILTER_EVENTS;
        events.state_changed = &MidiGraph::nodeStateChanged;
        events.process = &MidiGraph::process;
        return events;
    }();
    const QByteArray name = nodeName.toUtf8();
    const QByteArray description = (nodeName + QStringLiteral(" MIDI output")).toUtf8();
    node_ = pw_->pw_filter_new(
        connection_.core(), name.constData(),
        pw_->pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY, "Playback",
                               PW_KEY_MEDIA_ROLE, "Music", PW_KEY_NODE_DESCRIPTION,
                               description.constData(), PW_KEY_NODE_LATENCY, NodeLatency,
                               PW_KEY_NODE_WANT_DRIVER, "true", PW_KEY_NODE_AUTOCONNECT, "false",
                               nullptr));
    if (node_ == nullptr)
        return;
    pw_->pw_filter_add_listener(node_, &nodeListener_, &NodeEvents, this);
    std::uint8_t memory[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof memory);
    const spa_pod *params[] = {static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(1, 1, 32), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_CHOICE_RANGE_Int(BufferBytes, 4096, INT32_MAX),
        SPA_PARAM_BUFFERS_stride, SPA_POD_Int(1)))};
    void *port =
        pw_->pw_filter_add_port(node_, PW_DIRECTION_OUTPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                                pw_->pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi",
                                                       PW_KEY_PORT_NAME, "output", nullptr),
                                params, 1);
    cycle_.setPort(pw_, port);
    // Inactive until a stream plays; linked to nothing, it is not scheduled either way.
    pw_->pw_filter_connect(
        node_, pw_filter_flags(PW_FILTER_FLAG_RT_PROCESS | PW_FILTER_FLAG_INACTIVE), nullptr, 0);
}

std::unique_ptr<Stream> MidiGraph::open(const Port &port, QObject *receiver)
{
    if (!connection_.connected() || control_.state() != StreamState::Closed || !listed(port))
        return nullptr;
    linkTo(port);
    std::unique_ptr<Stream> stream = control_.open(receiver);
    if (stream == nullptr)
        publish([] {}, false, false, false); // the port went meanwhile
    return stream;
}

void MidiGraph::linkTo(const Port &port)
{
    const PipeWireConnection::Locked lock(connection_);
    streamOpen_ = true;
    const bool sameLink = link_ != nullptr && target_.id == port.id && target_.node == port.node &&
                          shared_.readiness != Readiness::Unavailable;
    if (sameLink)
        return;
    // Our node wakes and links to the port; the stream opens once it runs.
    dropLink();
    target_ = port;
    shared_.readiness.store(Readiness::Starting);
    linkAskedMs_ = nowMs();
    pw_->pw_filter_set_active(node_, true);
    makeLink();
    timespec interval{0, WatchMs * 1000000};
    pw_loop_update_timer(connection_.loop(), watchTimer_, &interval, &interval, false);
}

void MidiGraph::applicationGone()
{
    control_.applicationGone();
}

bool MidiGraph::want()
{
    return connection_.connected() && listed(target_);
}

void MidiGraph::publish(const std::function<void()> &write, bool, bool open, bool running)
{
    write();
    const PipeWireConnection::Locked lock(connection_);
    streamRunning_ = running;
    clockMovedMs_ = nowMs();
    if (!open && streamOpen_) { // what it sent has left; the link idles
        streamOpen_ = false;
        idleSinceMs_ = clockMovedMs_;
    }
}

bool MidiGraph::waitsForEnd(bool) const
{
    // Whatever it played, the reset that ends it must leave for the port first.
    return shared_.readiness.load() == Readiness::Ready;
}

void MidiGraph::makeLink()
{
    // Made once the graph has given our node its id, which may come after the stream opens.
    if (!streamOpen_ || link_ != nullptr || nodeId_ == SPA_ID_INVALID)
        return;
    static constexpr pw_proxy_events ProxyEvents = [] {
        pw_proxy_events events{};
        events.version = PW_VERSION_PROXY_EVENTS;
        events.removed = &MidiGraph::linkRemoved;
        return events;
    }();
    static constexpr pw_link_events LinkEvents = [] {
        pw_link_events events{};
        events.version = PW_VERSION_LINK_EVENTS;
        events.info = &MidiGraph::linkInfo;
        return events;
    }();
    const QByteArray outputNode = QByteArray::number(nodeId_);
    const QByteArray inputNode = QByteArray::number(target_.node);
    const QByteArray inputPort = QByteArray::number(target_.id);
    const spa_dict_item items[] = {
        {PW_KEY_LINK_OUTPUT_NODE, outputNode.constData()},
        {PW_KEY_LINK_INPUT_NODE, inputNode.constData()},
        {PW_KEY_LINK_INPUT_PORT, inputPort.constData()},
        {PW_KEY_OBJECT_LINGER, "false"},
    };
    const spa_dict props = SPA_DICT_INIT_ARRAY(items);
    link_ = static_cast<pw_proxy *>(pw_core_create_object(
        connection_.core(), "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props, 0));
    if (link_ == nullptr)
        return setReadiness(Readiness::Unavailable);
    pw_->pw_proxy_add_listener(link_, &linkListener_, &ProxyEvents, this);
    pw_->pw_proxy_add_object_listener(link_, &linkObjectListener_, &LinkEvents, this);
}

void MidiGraph::dropLink()
{
    shared_.warmCycles.store(0);
    if (link_ == nullptr)
        return;
    spa_hook_remove(&linkListener_);
    spa_hook_remove(&linkObjectListener_);
    pw_->pw_proxy_destroy(link_); // the link goes with its proxy (no linger)
    link_ = nullptr;
}

void MidiGraph::setReadiness(Readiness readiness)
{
    if (shared_.readiness.exchange(readiness) != readiness)
        crossing_.controlWake.signal();
}

void MidiGraph::coreError(void *graph, std::uint32_t id, int, int res, const char *)
{
    // An error of the core itself ends the connection (-EPIPE: the daemon went away): every
    // port goes with it, and a stream on one ends.
    auto *self = static_cast<MidiGraph *>(graph);
    if (id != PW_ID_CORE || res != -EPIPE)
        return;
    {
        const std::lock_guard lock(self->directory_.mutex);
        self->directory_.ports.clear();
        self->directory_.nodes.clear();
        self->directory_.firstAnswer = true;
        self->directory_.answered.notify_all();
    }
    self->shared_.lost.store(true);
    self->setReadiness(Readiness::Unavailable);
}

void MidiGraph::nodeStateChanged(void *graph, pw_filter_state, pw_filter_state state, const char *)
{
    auto *self = static_cast<MidiGraph *>(graph);
    if (state == PW_FILTER_STATE_ERROR || state == PW_FILTER_STATE_UNCONNECTED) {
        self->nodeId_ = SPA_ID_INVALID;
        self->setReadiness(Readiness::Unavailable);
        return;
    }
    if (self->nodeId_ == SPA_ID_INVALID) {
        self->nodeId_ = self->pw_->pw_filter_get_node_id(self->node_);
        self->makeLink();
    }
}

void MidiGraph::linkInfo(void *graph, const pw_link_info *info)
{
    auto *self = static_cast<MidiGraph *>(graph);
    // An active link warms up on the data thread, which then makes it Ready.
    if (info->state == PW_LINK_STATE_ACTIVE &&
        self->shared_.readiness.load() == Readiness::Starting)
        self->shared_.warmCycles.store(GraphCrossing::LinkWarmCycles);
    else if (info->state == PW_LINK_STATE_ERROR || info->state == PW_LINK_STATE_UNLINKED)
        self->setReadiness(Readiness::Unavailable);
}

void MidiGraph::process(void *graph, spa_io_position *position)
{
    static_cast<MidiGraph *>(graph)->cycle_.run(position);
}

void MidiGraph::linkRemoved(void *graph)
{
    // Someone else took the link away.
    static_cast<MidiGraph *>(graph)->setReadiness(Readiness::Unavailable);
}

void MidiGraph::watch(void *graph, std::uint64_t)
{
    auto *self = static_cast<MidiGraph *>(graph);
    const std::int64_t now = nowMs();
    if (!self->streamOpen_) {
        if (self->link_ == nullptr || self->shared_.readiness.load() == Readiness::Unavailable ||
            now - self->idleSinceMs_ > IdleMs) { // idle: unlinked until the next stream
            self->dropLink();
            self->setReadiness(Readiness::Unavailable);
            self->pw_->pw_filter_set_active(self->node_, false);
            pw_loop_update_timer(self->connection_.loop(), self->watchTimer_, nullptr, nullptr,
                                 false);
        }
        return;
    }
    if (self->shared_.readiness.load() == Readiness::Starting &&
        now - self->linkAskedMs_ > LinkMs) {
        self->setReadiness(Readiness::Unavailable); // a link that does not run is given up
        return;
    }
    const std::uint64_t frames = self->crossing_.frames.load(std::memory_order_acquire);
    if (frames != self->lastFrames_ || !self->streamRunning_) {
        self->lastFrames_ = frames;
        self->clockMovedMs_ = now;
    } else if (now - self->clockMovedMs_ > StalledMs) {
        self->clockMovedMs_ = now;
        self->shared_.stalls.fetch_add(1);
        self->crossing_.controlWake.signal();
    }
}

} // namespace midiout
