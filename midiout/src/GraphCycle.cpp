#include "GraphCycle.h"

#include <spa/control/control.h>
#include <spa/pod/builder.h>

namespace midiout
{

void GraphCycle::warmUp(std::uint32_t clock, std::uint32_t quantum)
{
    const int cycles = graph_.warmCycles.load(std::memory_order_relaxed);
    const bool settled = clock == warmClock_ && quantum == warmQuantum_;
    warmClock_ = clock;
    warmQuantum_ = quantum;
    if (cycles <= 0)
        return;
    if (!settled) {
        graph_.warmCycles.store(GraphCrossing::LinkWarmCycles, std::memory_order_relaxed);
        return;
    }
    graph_.warmCycles.store(cycles - 1, std::memory_order_relaxed);
    Readiness starting = Readiness::Starting;
    if (cycles == 1 && graph_.readiness.compare_exchange_strong(starting, Readiness::Ready))
        crossing_.controlWake.signal();
}

void GraphCycle::run(const spa_io_position *position)
{
    if (position == nullptr || position->clock.rate.denom == 0)
        return;
    // Frames of the graph's clock; a new driver's clock continues where the last one ended.
    if (position->clock.id != clockId_) {
        clockId_ = position->clock.id;
        clockOffset_ = std::int64_t(position->clock.position) - std::int64_t(nextFrame_);
    }
    const std::uint64_t start =
        std::uint64_t(std::int64_t(position->clock.position) - clockOffset_);
    const auto frames = std::uint32_t(position->clock.duration);
    nextFrame_ = start + frames;
    pw_buffer *buffer = pw_->pw_filter_dequeue_buffer(port_);
    spa_data *data = buffer != nullptr ? &buffer->buffer->datas[0] : nullptr;
    if (data == nullptr || data->data == nullptr) {
        if (buffer != nullptr)
            pw_->pw_filter_queue_buffer(port_, buffer);
        return;
    }
    spa_pod_builder builder;
    spa_pod_frame sequence;
    spa_pod_builder_init(&builder, data->data, data->maxsize);
    spa_pod_builder_push_sequence(&builder, &sequence, 0);
    const double rate = double(position->clock.rate.denom) / position->clock.rate.num;
    writer_.cycle(start, frames, rate,
                  [&](std::uint32_t offset, const std::uint8_t *bytes, std::size_t length) {
                      // Each control takes at most 32 bytes; what has no room is dropped.
                      if (builder.state.offset + 64 > builder.size)
                          return;
                      spa_pod_builder_control(&builder, offset, SPA_CONTROL_Midi);
                      spa_pod_builder_bytes(&builder, bytes, std::uint32_t(length));
                  });
    spa_pod_builder_pop(&builder, &sequence);
    warmUp(position->clock.id, frames);
    data->chunk->offset = 0;
    data->chunk->size = builder.state.offset;
    data->chunk->stride = 1;
    data->chunk->flags = 0;
    pw_->pw_filter_queue_buffer(port_, buffer);
    writer_.finishCycle(start + frames);
}

} // namespace midiout
