#include "StreamControl.h"

#include "SynthRenderer.h"

#include <midiout/MidiMessages.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

namespace midiout
{

namespace
{

constexpr double TempoMicroseconds = 500000.0; // per quarter note, fixed

void post(QObject *receiver, Notification notification)
{
    if (receiver != nullptr)
        QCoreApplication::postEvent(receiver, new NotificationEvent(notification));
}

// A handle that names the engine's open stream by its number; the engine checks each call.
class EngineStream final : public Stream
{
public:
    EngineStream(StreamControl &control, std::uint32_t id) : control_(control), id_(id) {}
    ~EngineStream() override { control_.close(id_, false); } // no Close unless close() said so

    void reset() override { control_.reset(id_); }
    bool setTimeDivision(int ticksPerQuarter) override
    {
        return ticksPerQuarter > 0 &&
               control_.setTickMicroseconds(id_, TempoMicroseconds / ticksPerQuarter);
    }
    bool queue(const std::uint8_t *data, std::size_t length) override
    {
        return data != nullptr && length != 0 && length % StreamEvent::Size == 0 &&
               control_.queue(id_, data, length);
    }
    bool restart() override { return control_.restart(id_); }
    void stop() override { control_.stop(id_); }
    void close() override { control_.close(id_, true); }

private:
    StreamControl &control_;
    const std::uint32_t id_;
};

} // namespace

StreamControl::StreamControl(EngineCrossing &crossing, StreamDevice &device)
    : crossing_(crossing), device_(device)
{
}

StreamControl::~StreamControl() = default;

bool StreamControl::canPlay()
{
    return device_.want();
}

bool StreamControl::ready() const
{
    return device_.readiness() == StreamDevice::Readiness::Ready;
}

std::unique_ptr<Stream> StreamControl::open(QObject *receiver)
{
    service(); // a stream whose sink has gone is ended first
    if (state_.state != StreamState::Closed || !canPlay())
        return nullptr;
    watchWake();
    open_ = {};
    open_.id = ++lastStreamId_;
    open_.receiver = receiver;
    freshState(StreamState::Opening, open_.id);
    if (ready())
        startOpened();
    else
        publish(false);
    return std::make_unique<EngineStream>(*this, open_.id);
}

void StreamControl::freshState(StreamState state, std::uint32_t stream)
{
    // A new play state; the counts of stops and resets go on, so that none is missed.
    PlayState fresh;
    fresh.state = state;
    fresh.stream = stream;
    fresh.stops = state_.stops;
    fresh.resets = state_.resets;
    state_ = fresh;
}

void StreamControl::startOpened()
{
    state_.state = StreamState::Paused;
    publish(false);
    post(open_.receiver, Notification::Open);
}

void StreamControl::publish(bool playNow)
{
    // Buffers retired before this state went out count from now: a block under way may still
    // read them, the next one follows this state.
    const auto write = [this] {
        crossing_.played.write(state_);
        const std::uint64_t frames = crossing_.frames.load(std::memory_order_acquire);
        for (const auto &buffer : retired_)
            if (buffer->retiredAt == Buffer::NotYet)
                buffer->retiredAt = frames;
    };
    device_.publish(write, playNow, state_.state != StreamState::Closed,
                    state_.state == StreamState::Running || state_.state == StreamState::Closing);
}

bool StreamControl::reset(std::uint32_t stream)
{
    if (!isOpen(stream))
        return false;
    ++state_.resets;
    publish(state_.state == StreamState::Running && open_.queued != nullptr);
    return true;
}

bool StreamControl::setTickMicroseconds(std::uint32_t stream, double microseconds)
{
    if (!isOpen(stream))
        return false;
    state_.tickMicroseconds = microseconds;
    publish(false);
    return true;
}

bool StreamControl::queue(std::uint32_t stream, const std::uint8_t *data, std::size_t length)
{
    if (!isOpen(stream) || state_.state == StreamState::Closing ||
        state_.state == StreamState::Opening || open_.queued != nullptr)
        return false;
    // The engine plays its own copy: the caller may reuse its memory at once.
    open_.queued = std::make_unique<Buffer>();
    open_.queued->bytes.assign(data, data + length);
    open_.queued->number = ++lastBufferNumber_;
    open_.waitsForPresets = true;
    handOver(false);
    return true;
}

void StreamControl::handOver(bool playNow)
{
    if (!open_.waitsForPresets ||
        !device_.prepare(open_.queued->bytes.data(), open_.queued->bytes.size()))
        return; // tried again at the next service()
    open_.waitsForPresets = false;
    state_.data = open_.queued->bytes.data();
    state_.length = open_.queued->bytes.size();
    state_.buffer = open_.queued->number;
    publish(playNow && state_.state == StreamState::Running);
}

bool StreamControl::restart(std::uint32_t stream)
{
    if (!isOpen(stream) || state_.state == StreamState::Closing ||
        state_.state == StreamState::Opening)
        return false;
    if (state_.state == StreamState::Paused) {
        state_.state = StreamState::Running;
        open_.unheard = true;
        publish(true);
    }
    return true;
}

void StreamControl::stop(std::uint32_t stream)
{
    if (!isOpen(stream))
        return;
    ++state_.stops;
    if (state_.state == StreamState::Closing) {
        if (!device_.waitsForEnd(false))
            closeNow(true, true); // what it left at the server is cut; Close at once
        return;
    }
    // A stream still playing its buffer is cut at once; one whose pass has ended keeps what the
    // server still holds of its last notes.
    const bool queued = open_.queued != nullptr;
    open_.unheard = open_.unheard && !queued; // a cut drops what the server holds
    if (state_.state == StreamState::Running)
        state_.state = StreamState::Paused;
    retireQueued();
    publish(queued);
    if (queued)
        post(open_.receiver, Notification::Done);
}

void StreamControl::retireQueued()
{
    // The queued buffer leaves the state; its memory is freed once the audio thread has passed
    // a block after the next publish(), which every caller makes.
    state_.data = nullptr;
    state_.length = 0;
    state_.buffer = 0;
    open_.waitsForPresets = false;
    if (open_.queued != nullptr)
        retired_.push_back(std::move(open_.queued));
}

void StreamControl::close(std::uint32_t stream, bool postClose)
{
    if (!isOpen(stream))
        return;
    const bool cut = state_.state == StreamState::Running && open_.queued != nullptr;
    // What it played may still be on its way to the sink: Close follows once it is heard.
    if (postClose && state_.state != StreamState::Closing && device_.waitsForEnd(open_.unheard)) {
        retireQueued();
        state_.state = StreamState::Closing;
        // Every frame played before the close, and one of a pass that has seen it.
        state_.wakeWhenHeard = crossing_.frames.load(std::memory_order_acquire) + 1;
        publish(cut);
        return;
    }
    closeNow(postClose, cut);
}

void StreamControl::closeNow(bool postClose, bool cut)
{
    retireQueued();
    freshState(StreamState::Closed, 0);
    publish(cut);
    QObject *receiver = open_.receiver;
    open_ = {};
    if (postClose)
        post(receiver, Notification::Close);
}

void StreamControl::endStream()
{
    // The stream ends as a stop ends it: Done for a queued buffer, then Close.
    if (state_.state == StreamState::Closed)
        return;
    if (open_.queued != nullptr)
        post(open_.receiver, Notification::Done);
    closeNow(true, false);
}

void StreamControl::service()
{
    if (device_.realTime()) // offline, the caller looks after each render: nothing wakes it
        crossing_.controlWake.clear();
    const std::uint32_t stalls = device_.stalls();
    const bool stalled = stalls != seenStalls_;
    seenStalls_ = stalls;
    const auto readiness = device_.readiness();
    if (state_.state == StreamState::Opening) {
        if (readiness == StreamDevice::Readiness::Unavailable)
            endStream(); // it never opened: Close alone
        else if (readiness == StreamDevice::Readiness::Ready)
            startOpened();
    } else if (readiness != StreamDevice::Readiness::Ready || stalled) {
        endStream(); // the way out is gone, or its clock stands: the next request starts afresh
    }
    Report report;
    while (crossing_.reports.pop(report)) {
        if (!isOpen(report.stream) || state_.state != StreamState::Running ||
            open_.queued == nullptr || open_.queued->number != report.buffer)
            continue; // of a buffer stopped since
        if (report.notification == Notification::Done) {
            retireQueued();
            publish(false);
        }
        post(open_.receiver, report.notification);
    }
    if (crossing_.reportsLost.exchange(false))
        endStream(); // rather than lose its Done
    handOver(true);
    if (state_.state == StreamState::Closing &&
        crossing_.heard.load(std::memory_order_acquire) >= state_.wakeWhenHeard)
        closeNow(true, false);
    const std::uint64_t frames = crossing_.frames.load(std::memory_order_acquire);
    std::erase_if(retired_, [frames](const std::unique_ptr<Buffer> &buffer) {
        return buffer->retiredAt != Buffer::NotYet &&
               frames >= buffer->retiredAt + 2 * SynthRenderer::BlockFrames;
    });
}

void StreamControl::watchWake()
{
    // The application's event loop wakes this side; a socket notifier lives on its thread.
    const QCoreApplication *app = QCoreApplication::instance();
    if (!device_.realTime() || wakeNotifier_ != nullptr || app == nullptr ||
        QThread::currentThread() != app->thread())
        return;
    wakeNotifier_ =
        std::make_unique<QSocketNotifier>(crossing_.controlWake.fd(), QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, wakeNotifier_.get(),
                     [this] { service(); });
}

void StreamControl::applicationGone()
{
    endStream();
    wakeNotifier_.reset();
}

} // namespace midiout
