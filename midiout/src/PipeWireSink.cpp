// The PipeWire way out: a pw_stream on a thread loop of its own, whose process callback runs on
// PipeWire's real-time data thread and renders one graph cycle at a time. The graph's quantum is
// the stream's whole queue, so a request or a stop waits behind a few milliseconds at most; the
// synthesizer's 44,100 Hz are converted to the server's rate by the stream's own adapter.

#include "AudioSink.h"

#include "PipeWireConnection.h"

#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace midiout
{

namespace
{

// A graph cycle asks for about 256 frames (the latency asked for here).
constexpr const char *NodeLatency = "256/48000";

class PipeWireSink final : public AudioSink
{
public:
    PipeWireSink(const SinkClient &client, const char *name, QString *error)
        : AudioSink(client), connection_(name, error), frameBytes_(client.channels * sizeof(float))
    {
    }

    ~PipeWireSink() override
    {
        // Nothing here waits for the server.
        connection_.stop();
        if (stream_ != nullptr)
            pw_->pw_stream_destroy(stream_);
    }

    // Asks the daemon for a stream; false with the reason when no daemon answers.
    bool open(const char *name, QString *error)
    {
        if (!connection_.connected())
            return false;
        pw_core_add_listener(connection_.core(), &coreListener_, &CoreEvents, this);
        stream_ = pw_->pw_stream_new(
            connection_.core(), name,
            pw_->pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                   PW_KEY_MEDIA_ROLE, "Music", PW_KEY_NODE_LATENCY, NodeLatency,
                                   nullptr));
        if (stream_ == nullptr) {
            *error = QStringLiteral("PipeWire: no stream: %1")
                         .arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        pw_->pw_stream_add_listener(stream_, &streamListener_, &StreamEvents, this);
        std::uint8_t memory[256];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(memory, sizeof memory);
        spa_audio_info_raw format{};
        format.format = SPA_AUDIO_FORMAT_F32;
        format.rate = std::uint32_t(client_.rate);
        format.channels = std::uint32_t(client_.channels);
        format.position[0] = SPA_AUDIO_CHANNEL_FL;
        format.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_INACTIVE |
                                           PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        int failed =
            pw_->pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
        if (failed >= 0 && !connection_.start())
            failed = -EAGAIN;
        if (failed < 0)
            *error = QStringLiteral("PipeWire: %1").arg(QString::fromLocal8Bit(strerror(-failed)));
        return failed >= 0;
    }

    void play(const std::function<void()> &publish) override
    {
        // The flush runs on the data thread between two renders and returns when it is done, not
        // waiting for the server; what is published after it is rendered into fresh buffers.
        const PipeWireConnection::Locked lock(connection_);
        if (state() == State::Ready)
            pw_->pw_stream_flush(stream_, false);
        publish();
        if (state() == State::Ready)
            pw_->pw_stream_set_active(stream_, true);
    }

    void pause() override
    {
        const PipeWireConnection::Locked lock(connection_);
        if (state() == State::Ready)
            pw_->pw_stream_set_active(stream_, false); // the graph no longer schedules the node
    }

private:
    // The callbacks below run on the loop's thread, but process().
    void lost(const char *why)
    {
        lose(QStringLiteral("sound server: %1")
                 .arg(QString::fromUtf8(why != nullptr && *why != 0 ? why : "connection lost")));
    }

    static void coreError(void *data, std::uint32_t id, int, int res, const char *message)
    {
        // An error of the core itself ends the connection (-EPIPE: the daemon went away).
        if (id == PW_ID_CORE)
            static_cast<PipeWireSink *>(data)->lost(res == -EPIPE ? "connection lost" : message);
    }

    static void streamChanged(void *data, pw_stream_state, pw_stream_state state, const char *why)
    {
        auto *self = static_cast<PipeWireSink *>(data);
        if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)
            self->setReady();
        else if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            self->lost(why);
    }

    // Frames between the next rendered one and the device: the graph's delay, what our queued
    // buffers hold and what the resampler keeps. Real-time: reads the stream's time snapshot.
    std::size_t queuedFrames() const
    {
        pw_time time{};
        if (pw_->pw_stream_get_time_n(stream_, &time, sizeof time) != 0 || time.rate.denom == 0)
            return 0;
        const double graph = double(std::max<std::int64_t>(time.delay, 0)) * time.rate.num /
                             time.rate.denom * client_.rate;
        return std::size_t(graph) + time.queued / frameBytes_ + time.buffered;
    }

    static void process(void *data)
    {
        // Real-time, on the data thread: renders one cycle into the stream's next buffer.
        auto *self = static_cast<PipeWireSink *>(data);
        pw_buffer *buffer = self->pw_->pw_stream_dequeue_buffer(self->stream_);
        if (buffer == nullptr)
            return;
        spa_data &out = buffer->buffer->datas[0];
        std::uint32_t frames = out.data == nullptr ? 0 : out.maxsize / self->frameBytes_;
        if (buffer->requested != 0)
            frames = std::min(frames, std::uint32_t(buffer->requested));
        self->client_.render(self->client_.context, static_cast<float *>(out.data), frames,
                             self->queuedFrames());
        out.chunk->offset = 0;
        out.chunk->stride = std::int32_t(self->frameBytes_);
        out.chunk->size = frames * self->frameBytes_;
        self->pw_->pw_stream_queue_buffer(self->stream_, buffer);
    }

    static constexpr pw_core_events CoreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = &PipeWireSink::coreError;
        return events;
    }();
    static constexpr pw_stream_events StreamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &PipeWireSink::streamChanged;
        events.process = &PipeWireSink::process;
        return events;
    }();

    PipeWireConnection connection_;
    const PipeWireApi *const pw_ = connection_.api(); // used once it has connected
    const std::size_t frameBytes_;
    pw_stream *stream_ = nullptr;
    spa_hook coreListener_{}, streamListener_{};
};

} // namespace

std::unique_ptr<AudioSink> OpenPipeWireSink(const SinkClient &client, const char *name,
                                            QString *error)
{
    auto sink = std::make_unique<PipeWireSink>(client, name, error);
    if (!sink->open(name, error))
        return nullptr;
    return sink;
}

} // namespace midiout
