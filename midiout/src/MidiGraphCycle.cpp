// The graph's data thread: the cycle of our output node, into which the port's writer puts the
// stream's events, and the warm-up of a new or woken link.

#include "MidiGraph.h"

#include <spa/control/control.h>
#include <spa/pod/builder.h>

namespace midiout
{

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
        warmCycles_.store(LinkWarmCycles, std::memory_order_relaxed);
        return;
    }
    warmCycles_.store(cycles - 1, std::memory_order_relaxed);
    Readiness starting = Readiness::Starting;
    if (cycles == 1 && readiness_.compare_exchange_strong(starting, Readiness::Ready))
        crossing_.controlWake.signal();
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
