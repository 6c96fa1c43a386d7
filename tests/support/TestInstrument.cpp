#include "TestInstrument.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/control/control.h>
#include <spa/pod/iter.h>

#include <ctime>

namespace testsupport
{

struct TestInstrument::Graph {
    pw_thread_loop *loop = nullptr;
    pw_filter *filter = nullptr;
    void *port = nullptr;
    spa_hook listener{};
    mutable std::mutex mutex;
    std::vector<Event> events;
    std::uint64_t nextPosition = 0;
    int missed = 0;
    std::uint64_t cycles = 0;

    static void process(void *data, spa_io_position *position)
    {
        auto *self = static_cast<Graph *>(data);
        if (position == nullptr)
            return;
        pw_buffer *buffer = pw_filter_dequeue_buffer(self->port);
        {
            const std::lock_guard lock(self->mutex);
            ++self->cycles;
            // A cycle skipped, or run after its time was over (the graph ran late, and what a late
            // peer wrote may come a cycle late from then on), or run without a buffer once our
            // peer has sent something (linked, it sends one every cycle: the graph ran us first).
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double cycleEnd = double(position->clock.nsec) / 1e9 +
                                    double(position->clock.duration) * position->clock.rate.num /
                                        position->clock.rate.denom;
            const bool skippedOrLate = position->clock.position != self->nextPosition ||
                                       now.tv_sec + now.tv_nsec / 1e9 > cycleEnd;
            if ((self->nextPosition != 0 && skippedOrLate) ||
                (buffer == nullptr && !self->events.empty()))
                ++self->missed;
            self->nextPosition = position->clock.position + position->clock.duration;
        }
        if (buffer == nullptr)
            return;
        spa_data &d = buffer->buffer->datas[0];
        const auto *pod = static_cast<const spa_pod *>(
            spa_pod_from_data(d.data, d.maxsize, d.chunk->offset, d.chunk->size));
        if (pod != nullptr && spa_pod_is_sequence(pod)) {
            const double rate = double(position->clock.rate.denom) / position->clock.rate.num;
            const auto *sequence = reinterpret_cast<const spa_pod_sequence *>(pod);
            spa_pod_control *control;
            const std::lock_guard lock(self->mutex);
            SPA_POD_SEQUENCE_FOREACH(sequence, control)
            {
                if (control->type != SPA_CONTROL_Midi)
                    continue;
                Event event;
                event.frame = position->clock.position + control->offset;
                event.time = double(position->clock.nsec) / 1e9 + control->offset / rate;
                event.rate = rate;
                event.clock = position->clock.id;
                event.quantum = std::uint32_t(position->clock.duration);
                event.bytes = QByteArray(static_cast<const char *>(SPA_POD_BODY(&control->value)),
                                         int(SPA_POD_BODY_SIZE(&control->value)));
                self->events.push_back(event);
            }
        }
        pw_filter_queue_buffer(self->port, buffer);
    }
};

TestInstrument::TestInstrument(const QString &nodeName)
    : nodeName_(nodeName), graph_(std::make_unique<Graph>())
{
    pw_init(nullptr, nullptr);
    static constexpr pw_filter_events Events = [] {
        pw_filter_events events{};
        events.version = PW_VERSION_FILTER_EVENTS;
        events.process = &Graph::process;
        return events;
    }();
    graph_->loop = pw_thread_loop_new("test-instrument", nullptr);
    const QByteArray name = nodeName.toUtf8();
    graph_->filter =
        pw_filter_new_simple(pw_thread_loop_get_loop(graph_->loop), name.constData(),
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Midi", PW_KEY_MEDIA_CATEGORY,
                                               "Playback", PW_KEY_MEDIA_CLASS, "Midi/Sink",
                                               PW_KEY_NODE_DESCRIPTION, "Test instrument", nullptr),
                             &Events, graph_.get());
    graph_->port = pw_filter_add_port(
        graph_->filter, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
        pw_properties_new(PW_KEY_FORMAT_DSP, "8 bit raw midi", PW_KEY_PORT_NAME, "input", nullptr),
        nullptr, 0);
    if (pw_filter_connect(graph_->filter, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0 ||
        pw_thread_loop_start(graph_->loop) < 0)
        graph_->port = nullptr;
}

TestInstrument::~TestInstrument()
{
    pw_thread_loop_stop(graph_->loop);
    if (graph_->filter != nullptr)
        pw_filter_destroy(graph_->filter);
    pw_thread_loop_destroy(graph_->loop);
}

bool TestInstrument::connected() const
{
    return graph_->filter != nullptr && graph_->port != nullptr;
}

std::vector<TestInstrument::Event> TestInstrument::events() const
{
    const std::lock_guard lock(graph_->mutex);
    return graph_->events;
}

int TestInstrument::missedCycles() const
{
    const std::lock_guard lock(graph_->mutex);
    return graph_->missed;
}

std::uint64_t TestInstrument::cycles() const
{
    const std::lock_guard lock(graph_->mutex);
    return graph_->cycles;
}

void TestInstrument::clear()
{
    const std::lock_guard lock(graph_->mutex);
    graph_->events.clear();
    graph_->missed = 0;
    graph_->nextPosition = 0;
}

} // namespace testsupport
