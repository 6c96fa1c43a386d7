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
// A link stays this long after its last stream, so that the next request on the port is sent
// in the next cycle (as the built-in synthesizer's sink stays); then the node sleeps.
constexpr std::int64_t IdleMs = 2000;
// A new link carries events once our node has run this many cycles on the same clock with the
// same quantum: while the graph moves the linked nodes to one driver and settles its quantum,
// the instrument may read a buffer a cycle late or on another clock.
constexpr int WarmCycles = 4;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString property(const spa_dict *props, const char *key)
{
    const char *value = spa_dict_lookup(props, key);
    return value != nullptr ? QString::fromUtf8(value) : QString();
}

constexpr pw_core_events CoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    return events;
}();

} // namespace

MidiGraph::MidiGraph(const QString &nodeName)
{
    QString error;
    pw_ = LoadPipeWireApi(&error);
    if (pw_ != nullptr)
        loop_ = pw_->pw_thread_loop_new("midiout-graph", nullptr);
    if (loop_ != nullptr)
        context_ = pw_->pw_context_new(pw_->pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ != nullptr)
        core_ = pw_->pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr) { // no daemon: no graph devices
        firstAnswer_ = true;
        return;
    }
    static constexpr pw_core_events Events = [] {
        pw_core_events events = CoreEvents;
        events.done = &MidiGraph::coreDone;
        events.error = &MidiGraph::coreError;
        return events;
    }();
    pw_core_add_listener(core_, &coreListener_, &Events, this);
    static constexpr pw_registry_events RegistryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &MidiGraph::registryGlobal;
        events.global_remove = &MidiGraph::registryGlobalRemove;
        return events;
    }();
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry_, &registryListener_, &RegistryEvents, this);
    firstSync_ = pw_core_sync(core_, PW_ID_CORE, 0);
    makeNode(nodeName);
    watchTimer_ = pw_loop_add_timer(pw_->pw_thread_loop_get_loop(loop_), &MidiGraph::watch, this);
    if (pw_->pw_thread_loop_start(loop_) < 0) {
        const std::lock_guard lock(directoryMutex_);
        firstAnswer_ = true;
    }
}

MidiGraph::~MidiGraph()
{
    // Joins the loop's thread; the node leaves the data thread after a cycle in progress.
    if (loop_ != nullptr)
        pw_->pw_thread_loop_stop(loop_);
    if (link_ != nullptr)
        pw_->pw_proxy_destroy(link_);
    if (node_ != nullptr)
        pw_->pw_filter_destroy(node_);
    if (registry_ != nullptr)
        pw_->pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry_));
    if (core_ != nullptr)
        pw_->pw_core_disconnect(core_);
    if (context_ != nullptr)
        pw_->pw_context_destroy(context_);
    if (loop_ != nullptr)
        pw_->pw_thread_loop_destroy(loop_);
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
        core_, name.constData(),
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
    outputPort_ =
        pw_->pw_filter_add_port(node_, PW_DIRECTION_OUTPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                                pw_->pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi",
                                                       PW_KEY_PORT_NAME, "output", nullptr),
                                params, 1);
    // Inactive until a stream plays: an idle node is not scheduled and costs nothing.
    pw_->pw_filter_connect(
        node_, pw_filter_flags(PW_FILTER_FLAG_RT_PROCESS | PW_FILTER_FLAG_INACTIVE), nullptr, 0);
}

std::vector<MidiGraph::Port> MidiGraph::ports()
{
    std::unique_lock lock(directoryMutex_);
    if (!asked_) {
        asked_ = true;
        answered_.wait_for(lock, std::chrono::milliseconds(FirstAnswerMs),
                           [this] { return firstAnswer_; });
    }
    std::vector<Port> ports = ports_;
    for (Port &port : ports) {
        const auto node = nodes_.find(port.node);
        const QString nodeName = node != nodes_.end() && !node->second.first.isEmpty()
                                     ? node->second.first
                                     : QStringLiteral("node.id.%1").arg(port.node);
        port.name = nodeName + QLatin1Char(':') + port.name;
        if (node != nodes_.end())
            port.description = node->second.second;
    }
    return ports;
}

bool MidiGraph::listed(const Port &port)
{
    const std::lock_guard lock(directoryMutex_);
    for (const Port &candidate : ports_)
        if (candidate.id == port.id && candidate.node == port.node)
            return true;
    return false;
}

std::unique_ptr<Stream> MidiGraph::open(const Port &port, QObject *receiver)
{
    if (core_ == nullptr || control_.state() != StreamState::Closed || !listed(port))
        return nullptr;
    pw_->pw_thread_loop_lock(loop_);
    streamOpen_ = true;
    const bool sameLink = link_ != nullptr && target_.id == port.id && target_.node == port.node &&
                          readiness_ != Readiness::Unavailable;
    if (!sameLink) { // our node wakes and links to the port; the stream opens once it runs
        dropLink();
        target_ = port;
        readiness_.store(Readiness::Starting);
        linkAskedMs_ = nowMs();
        pw_->pw_filter_set_active(node_, true);
        makeLink();
        timespec interval{0, WatchMs * 1000000};
        pw_loop_update_timer(pw_->pw_thread_loop_get_loop(loop_), watchTimer_, &interval, &interval,
                             false);
    }
    pw_->pw_thread_loop_unlock(loop_);
    std::unique_ptr<Stream> stream = control_.open(receiver);
    if (stream == nullptr)
        publish([] {}, false, false, false); // the port went meanwhile
    return stream;
}

void MidiGraph::applicationGone()
{
    control_.applicationGone();
}

bool MidiGraph::want()
{
    return core_ != nullptr && listed(target_);
}

void MidiGraph::publish(const std::function<void()> &write, bool, bool open, bool running)
{
    write();
    pw_->pw_thread_loop_lock(loop_);
    streamRunning_ = running;
    clockMovedMs_ = nowMs();
    if (!open && streamOpen_) { // what it sent has left; the link idles
        streamOpen_ = false;
        idleSinceMs_ = clockMovedMs_;
    }
    pw_->pw_thread_loop_unlock(loop_);
}

bool MidiGraph::waitsForEnd(bool) const
{
    // Whatever it played, the reset that ends it must leave for the port first.
    return readiness_.load() == Readiness::Ready;
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
        core_, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props, 0));
    if (link_ == nullptr)
        return setReadiness(Readiness::Unavailable);
    pw_->pw_proxy_add_listener(link_, &linkListener_, &ProxyEvents, this);
    pw_->pw_proxy_add_object_listener(link_, &linkObjectListener_, &LinkEvents, this);
}

void MidiGraph::dropLink()
{
    warmCycles_.store(0);
    if (link_ == nullptr)
        return;
    spa_hook_remove(&linkListener_);
    spa_hook_remove(&linkObjectListener_);
    pw_->pw_proxy_destroy(link_); // the link goes with its proxy (no linger)
    link_ = nullptr;
}

void MidiGraph::warmUp(std::uint32_t clock, std::uint32_t quantum)
{
    // The data thread: a new link is ready once it has run its warm-up cycles on one clock.
    const int cycles = warmCycles_.load(std::memory_order_relaxed);
    const bool settled = clock == warmClock_ && quantum == warmQuantum_;
    warmClock_ = clock;
    warmQuantum_ = quantum;
    if (cycles <= 0)
        return;
    if (!settled) {
        warmCycles_.store(WarmCycles, std::memory_order_relaxed);
        return;
    }
    warmCycles_.store(cycles - 1, std::memory_order_relaxed);
    Readiness starting = Readiness::Starting;
    if (cycles == 1 && readiness_.compare_exchange_strong(starting, Readiness::Ready))
        crossing_.controlWake.signal();
}

void MidiGraph::setReadiness(Readiness readiness)
{
    if (readiness_.exchange(readiness) != readiness)
        crossing_.controlWake.signal();
}

void MidiGraph::coreDone(void *graph, std::uint32_t id, int seq)
{
    auto *self = static_cast<MidiGraph *>(graph);
    if (id != PW_ID_CORE || seq != self->firstSync_)
        return;
    const std::lock_guard lock(self->directoryMutex_);
    self->firstAnswer_ = true;
    self->answered_.notify_all();
}

void MidiGraph::coreError(void *graph, std::uint32_t id, int, int res, const char *)
{
    // An error of the core itself ends the connection (-EPIPE: the daemon went away): every
    // port goes with it, and a stream on one ends.
    auto *self = static_cast<MidiGraph *>(graph);
    if (id != PW_ID_CORE || res != -EPIPE)
        return;
    {
        const std::lock_guard lock(self->directoryMutex_);
        self->ports_.clear();
        self->nodes_.clear();
        self->firstAnswer_ = true;
        self->answered_.notify_all();
    }
    self->setReadiness(Readiness::Unavailable);
}

void MidiGraph::registryGlobal(void *graph, std::uint32_t id, std::uint32_t, const char *type,
                               std::uint32_t, const spa_dict *props)
{
    auto *self = static_cast<MidiGraph *>(graph);
    if (props == nullptr)
        return;
    const std::lock_guard lock(self->directoryMutex_);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        QString description = property(props, PW_KEY_NODE_DESCRIPTION);
        if (description.isEmpty())
            description = property(props, PW_KEY_NODE_NICK);
        self->nodes_[id] = {property(props, PW_KEY_NODE_NAME), description};
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        // A MIDI input: the graph's raw MIDI format, on a port that takes it in.
        const char *direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
        const char *format = spa_dict_lookup(props, PW_KEY_FORMAT_DSP);
        const char *node = spa_dict_lookup(props, PW_KEY_NODE_ID);
        if (direction == nullptr || std::strcmp(direction, "in") != 0 || format == nullptr ||
            std::strstr(format, "raw midi") == nullptr || node == nullptr)
            return;
        QString name = property(props, PW_KEY_PORT_NAME);
        if (name.isEmpty())
            name = QStringLiteral("port.id.%1").arg(id);
        self->ports_.push_back({std::uint32_t(std::strtoul(node, nullptr, 10)), id, name, {}});
    }
}

void MidiGraph::registryGlobalRemove(void *graph, std::uint32_t id)
{
    auto *self = static_cast<MidiGraph *>(graph);
    {
        const std::lock_guard lock(self->directoryMutex_);
        self->nodes_.erase(id);
        std::erase_if(self->ports_,
                      [id](const Port &port) { return port.id == id || port.node == id; });
    }
    // An instrument that quits ends the stream on it, as a lost sound server does.
    if (self->link_ != nullptr && (id == self->target_.id || id == self->target_.node))
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
    if (info->state == PW_LINK_STATE_ACTIVE && self->readiness_.load() == Readiness::Starting)
        self->warmCycles_.store(WarmCycles); // the data thread makes it Ready
    else if (info->state == PW_LINK_STATE_ERROR || info->state == PW_LINK_STATE_UNLINKED)
        self->setReadiness(Readiness::Unavailable);
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
        if (self->link_ == nullptr || self->readiness_.load() == Readiness::Unavailable ||
            now - self->idleSinceMs_ > IdleMs) { // the node sleeps until the next stream
            self->dropLink();
            self->pw_->pw_filter_set_active(self->node_, false);
            pw_loop_update_timer(self->pw_->pw_thread_loop_get_loop(self->loop_), self->watchTimer_,
                                 nullptr, nullptr, false);
        }
        return;
    }
    if (self->readiness_.load() == Readiness::Starting && now - self->linkAskedMs_ > LinkMs) {
        self->setReadiness(Readiness::Unavailable); // a link that does not run is given up
        return;
    }
    const std::uint64_t frames = self->crossing_.frames.load(std::memory_order_acquire);
    if (frames != self->lastFrames_ || !self->streamRunning_) {
        self->lastFrames_ = frames;
        self->clockMovedMs_ = now;
    } else if (now - self->clockMovedMs_ > StalledMs) {
        self->clockMovedMs_ = now;
        self->stalls_.fetch_add(1);
        self->crossing_.controlWake.signal();
    }
}

void MidiGraph::process(void *graph, spa_io_position *position)
{
    // Real-time, on the data thread: the cycle's events into the port's next buffer.
    auto *self = static_cast<MidiGraph *>(graph);
    if (position == nullptr || position->clock.rate.denom == 0)
        return;
    // Frames of the graph's clock; a new driver's clock continues where the last one ended.
    if (position->clock.id != self->clockId_) {
        self->clockId_ = position->clock.id;
        self->clockOffset_ =
            std::int64_t(position->clock.position) - std::int64_t(self->nextFrame_);
    }
    const std::uint64_t start =
        std::uint64_t(std::int64_t(position->clock.position) - self->clockOffset_);
    const auto frames = std::uint32_t(position->clock.duration);
    self->nextFrame_ = start + frames;
    pw_buffer *buffer = self->pw_->pw_filter_dequeue_buffer(self->outputPort_);
    spa_data *data = buffer != nullptr ? &buffer->buffer->datas[0] : nullptr;
    if (data == nullptr || data->data == nullptr) {
        if (buffer != nullptr)
            self->pw_->pw_filter_queue_buffer(self->outputPort_, buffer);
        return;
    }
    spa_pod_builder builder;
    spa_pod_frame sequence;
    spa_pod_builder_init(&builder, data->data, data->maxsize);
    spa_pod_builder_push_sequence(&builder, &sequence, 0);
    const double rate = double(position->clock.rate.denom) / position->clock.rate.num;
    self->writer_.cycle(start, frames, rate,
                        [&](std::uint32_t offset, const std::uint8_t *bytes, std::size_t length) {
                            // Each control takes at most 32 bytes; what has no room is dropped.
                            if (builder.state.offset + 64 > builder.size)
                                return;
                            spa_pod_builder_control(&builder, offset, SPA_CONTROL_Midi);
                            spa_pod_builder_bytes(&builder, bytes, std::uint32_t(length));
                        });
    spa_pod_builder_pop(&builder, &sequence);
    self->warmUp(position->clock.id, frames);
    data->chunk->offset = 0;
    data->chunk->size = builder.state.offset;
    data->chunk->stride = 1;
    data->chunk->flags = 0;
    self->pw_->pw_filter_queue_buffer(self->outputPort_, buffer);
    self->writer_.finishCycle(start + frames);
}

} // namespace midiout
