// The PulseAudio way out: libpulse's threaded main loop runs the render callback when the server
// asks for samples, so no write waits for the server and a frozen server holds up nothing but
// its own stream. The server keeps a queue long enough to bridge a stalled machine; play()
// flushes it, so a request or a stop never waits behind it.

#include "AudioSink.h"

#include "PulseApi.h"
#include "SynthEngine.h"

#include <algorithm>
#include <atomic>

namespace midiout
{

namespace
{

constexpr std::size_t FrameBytes = 2 * sizeof(float);
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
        : pa_(pa), client_(client), name_(name)
    {
        loop_ = pa_.pa_threaded_mainloop_new();
        context_ = pa_.pa_context_new(pa_.pa_threaded_mainloop_get_api(loop_), name);
        pa_.pa_context_set_state_callback(context_, &PulseSink::contextChanged, this);
        if (pa_.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_.pa_threaded_mainloop_start(loop_) < 0)
            lose(pa_.pa_context_errno(context_));
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

    State state() const override { return state_.load(); }

    QString error() const override
    {
        const int code = error_.load();
        return code == 0 ? QString()
                         : QStringLiteral("sound server: %1")
                               .arg(QString::fromLocal8Bit(pa_.pa_strerror(code)));
    }

    void play() override
    {
        // The loop's lock is held by its own thread only while a callback runs.
        pa_.pa_threaded_mainloop_lock(loop_);
        if (state_.load() == State::Ready) {
            release(pa_.pa_stream_flush(stream_, nullptr, nullptr));
            if (pa_.pa_stream_is_corked(stream_) == 1)
                release(pa_.pa_stream_cork(stream_, 0, nullptr, nullptr));
        }
        pa_.pa_threaded_mainloop_unlock(loop_);
    }

    void pause() override
    {
        pa_.pa_threaded_mainloop_lock(loop_);
        if (state_.load() == State::Ready && pa_.pa_stream_is_corked(stream_) == 0)
            release(pa_.pa_stream_cork(stream_, 1, nullptr, nullptr));
        pa_.pa_threaded_mainloop_unlock(loop_);
    }

private:
    void release(pa_operation *operation)
    {
        if (operation != nullptr)
            pa_.pa_operation_unref(operation);
    }

    void setState(State state)
    {
        if (state_.exchange(state) != state && client_.changed != nullptr)
            client_.changed(client_.context);
    }

    void lose(int code)
    {
        error_.store(code == 0 ? PA_ERR_CONNECTIONTERMINATED : code);
        setState(State::Lost);
    }

    // The callbacks below run on the loop's thread.
    static void contextChanged(pa_context *context, void *data)
    {
        auto *self = static_cast<PulseSink *>(data);
        switch (self->pa_.pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->openStream();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->lose(self->pa_.pa_context_errno(context));
            break;
        default:
            break;
        }
    }

    void openStream()
    {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, std::uint32_t(SynthEngine::SampleRate), 2};
        stream_ = pa_.pa_stream_new(context_, name_, &format, nullptr);
        if (stream_ == nullptr)
            return lose(pa_.pa_context_errno(context_));
        pa_.pa_stream_set_state_callback(stream_, &PulseSink::streamChanged, this);
        pa_.pa_stream_set_write_callback(stream_, &PulseSink::writeRequested, this);
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = QueueFrames * FrameBytes;
        attr.prebuf = RequestFrames * FrameBytes;
        attr.minreq = RequestFrames * FrameBytes;
        attr.fragsize = std::uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED);
        if (pa_.pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            lose(pa_.pa_context_errno(context_));
    }

    static void streamChanged(pa_stream *stream, void *data)
    {
        auto *self = static_cast<PulseSink *>(data);
        switch (self->pa_.pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->setState(State::Ready);
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->lose(self->pa_.pa_context_errno(self->context_));
            break;
        default:
            break;
        }
    }

    static void writeRequested(pa_stream *stream, std::size_t bytes, void *data)
    {
        // Real-time: renders into the server's own memory, in chunks.
        auto *self = static_cast<PulseSink *>(data);
        while (bytes >= FrameBytes) {
            void *memory = nullptr;
            std::size_t size = std::min(bytes, ChunkFrames * FrameBytes);
            if (self->pa_.pa_stream_begin_write(stream, &memory, &size) < 0 || memory == nullptr)
                return;
            const std::size_t frames = std::min(size, bytes) / FrameBytes;
            if (frames == 0)
                return;
            self->client_.render(self->client_.context, self->left_, self->right_, frames);
            auto *out = static_cast<float *>(memory);
            for (std::size_t i = 0; i < frames; ++i) {
                out[2 * i] = self->left_[i];
                out[2 * i + 1] = self->right_[i];
            }
            self->pa_.pa_stream_write(stream, memory, frames * FrameBytes, nullptr, 0,
                                      PA_SEEK_RELATIVE);
            bytes -= frames * FrameBytes;
        }
    }

    const PulseApi &pa_;
    const SinkClient client_;
    const char *const name_;
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    std::atomic<State> state_{State::Connecting};
    std::atomic<int> error_{0};
    float left_[ChunkFrames] = {}, right_[ChunkFrames] = {};
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
