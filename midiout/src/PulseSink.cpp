// The PulseAudio way out: libpulse's threaded main loop runs the render callback when the server
// asks for samples, so no write waits for the server and a frozen server holds up nothing but
// its own stream. The server keeps a queue long enough to bridge a stalled machine; play()
// flushes it, so a request or a stop never waits behind it.

#include "AudioSink.h"

#include "PulseApi.h"

#include <algorithm>

namespace midiout
{

namespace
{

// The server's queue: 93 ms bridge a stalled thread (this machine has held threads up for 60 ms
// while others built); the server asks again when 23 ms are free, and playback starts as soon
// as that much has arrived. A flush makes the queue's length cost a request nothing.
constexpr std::uint32_t QueueFrames = 4096;
constexpr std::uint32_t RequestFrames = 1024;
// Rendered and written at a time, so that the first samples reach the server early.
constexpr std::size_t ChunkFrames = 512;

class PulseSink final : public AudioSink
{
public:
    PulseSink(const PulseApi &pa, const SinkClient &client, const char *name)
        : AudioSink(client), pa_(pa), name_(name), frameBytes_(client.channels * sizeof(float))
    {
        loop_ = pa_.pa_threaded_mainloop_new();
        context_ = pa_.pa_context_new(pa_.pa_threaded_mainloop_get_api(loop_), name);
        pa_.pa_context_set_state_callback(context_, &PulseSink::contextChanged, this);
        if (pa_.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_.pa_threaded_mainloop_start(loop_) < 0)
            lost(pa_.pa_context_errno(context_));
    }

    ~PulseSink() override
    {
        pa_.pa_threaded_mainloop_stop(loop_); // joins the loop's thread; no callback runs after
        if (stream_ != nullptr) {
            pa_.pa_stream_disconnect(stream_);
            pa_.pa_stream_unref(stream_);
        }
        pa_.pa_context_disconnect(context_);
        pa_.pa_context_unref(context_);
        pa_.pa_threaded_mainloop_free(loop_);
    }

    void play(const std::function<void()> &publish) override
    {
        // The loop's lock is held by its own thread only while a callback runs, so nothing is
        // rendered while it is held here: the flush goes to the server before any sample
        // rendered from what is published.
        pa_.pa_threaded_mainloop_lock(loop_);
        if (state() == State::Ready)
            release(pa_.pa_stream_flush(stream_, nullptr, nullptr));
        publish();
        if (state() == State::Ready && pa_.pa_stream_is_corked(stream_) == 1)
            release(pa_.pa_stream_cork(stream_, 0, nullptr, nullptr));
        pa_.pa_threaded_mainloop_unlock(loop_);
    }

    void pause() override
    {
        pa_.pa_threaded_mainloop_lock(loop_);
        if (state() == State::Ready && pa_.pa_stream_is_corked(stream_) == 0)
            release(pa_.pa_stream_cork(stream_, 1, nullptr, nullptr));
        pa_.pa_threaded_mainloop_unlock(loop_);
    }

private:
    void release(pa_operation *operation)
    {
        if (operation != nullptr)
            pa_.pa_operation_unref(operation);
    }

    void lost(int code)
    {
        lose(QStringLiteral("sound server: %1")
                 .arg(QString::fromLocal8Bit(
                     pa_.pa_strerror(code == 0 ? PA_ERR_CONNECTIONTERMINATED : code))));
    }

    // The callbacks below run on the loop's thread.
    static void contextChanged(pa_context *context, void *data)
    {
        auto *self = static_cast<PulseSink *>(data);
        const pa_context_state_t state = self->pa_.pa_context_get_state(context);
        if (state == PA_CONTEXT_READY)
            self->openStream();
        else if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            self->lost(self->pa_.pa_context_errno(context));
    }

    void openStream()
    {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, std::uint32_t(client_.rate),
                                    std::uint8_t(client_.channels)};
        stream_ = pa_.pa_stream_new(context_, name_, &format, nullptr);
        if (stream_ == nullptr)
            return lost(pa_.pa_context_errno(context_));
        pa_.pa_stream_set_state_callback(stream_, &PulseSink::streamChanged, this);
        pa_.pa_stream_set_write_callback(stream_, &PulseSink::writeRequested, this);
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = QueueFrames * frameBytes_;
        attr.prebuf = RequestFrames * frameBytes_;
        attr.minreq = RequestFrames * frameBytes_;
        attr.fragsize = std::uint32_t(-1);
        // Timing updates tell the sink's own latency.
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_.pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            lost(pa_.pa_context_errno(context_));
    }

    static void streamChanged(pa_stream *stream, void *data)
    {
        auto *self = static_cast<PulseSink *>(data);
        const pa_stream_state_t state = self->pa_.pa_stream_get_state(stream);
        if (state == PA_STREAM_READY)
            self->setReady();
        else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            self->lost(self->pa_.pa_context_errno(self->context_));
    }

    // Frames the server holds before what is written next: the queue less what it asks for (by
    // libpulse's own count, which a flush empties), and the sink's latency.
    std::size_t queuedFrames(pa_stream *stream) const
    {
        const pa_buffer_attr *attr = pa_.pa_stream_get_buffer_attr(stream);
        const std::size_t queue = attr != nullptr ? attr->tlength : QueueFrames * frameBytes_;
        const std::size_t asked = pa_.pa_stream_writable_size(stream);
        const pa_timing_info *timing = pa_.pa_stream_get_timing_info(stream);
        const std::uint64_t sinkFrames =
            timing != nullptr ? timing->sink_usec * std::uint64_t(client_.rate) / 1000000 : 0;
        return (queue - std::min(queue, asked)) / frameBytes_ + std::size_t(sinkFrames);
    }

    static void writeRequested(pa_stream *stream, std::size_t bytes, void *data)
    {
        // Real-time: renders into the server's own memory, in chunks.
        auto *self = static_cast<PulseSink *>(data);
        while (bytes >= self->frameBytes_) {
            void *memory = nullptr;
            std::size_t size = std::min(bytes, ChunkFrames * self->frameBytes_);
            if (self->pa_.pa_stream_begin_write(stream, &memory, &size) < 0 || memory == nullptr)
                return;
            const std::size_t frames = std::min(size, bytes) / self->frameBytes_;
            if (frames == 0)
                return;
            self->client_.render(self->client_.context, static_cast<float *>(memory), frames,
                                 self->queuedFrames(stream));
            self->pa_.pa_stream_write(stream, memory, frames * self->frameBytes_, nullptr, 0,
                                      PA_SEEK_RELATIVE);
            bytes -= frames * self->frameBytes_;
        }
    }

    const PulseApi &pa_;
    const char *const name_;
    const std::size_t frameBytes_;
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
};

} // namespace

std::unique_ptr<AudioSink> OpenPulseSink(const SinkClient &client, const char *name, QString *error)
{
    const PulseApi *pa = LoadPulseApi(error);
    if (pa == nullptr)
        return nullptr;
    return std::make_unique<PulseSink>(*pa, client, name);
}

MIDIOUT_DEFINE_TABLE_LOADER(PulseApi, MIDIOUT_PULSE_FUNCTIONS, "libpulse.so.0", LoadPulseApi)

} // namespace midiout
