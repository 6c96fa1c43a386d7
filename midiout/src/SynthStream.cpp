#include "SynthStream.h"

#include "SynthEngine.h"

#include <QCoreApplication>

namespace midiout
{

namespace
{

constexpr double TempoMicroseconds = 500000.0; // per quarter note, fixed

} // namespace

void postNotification(QObject *receiver, Notification notification)
{
    if (receiver != nullptr)
        QCoreApplication::postEvent(receiver, new NotificationEvent(notification));
}

SynthStream::SynthStream(SynthEngine &engine, QObject *receiver, std::uint32_t id)
    : engine_(engine), receiver_(receiver), id_(id)
{
}

SynthStream::~SynthStream()
{
    if (!closed_)
        detach();
}

void SynthStream::reset()
{
    if (!closed_)
        engine_.send({SynthEngine::Command::Reset, id_});
}

bool SynthStream::setTimeDivision(int ticksPerQuarter)
{
    if (closed_ || ticksPerQuarter <= 0)
        return false;
    SynthEngine::Command c{SynthEngine::Command::TimeDivision, id_};
    c.tickFrames = TempoMicroseconds / ticksPerQuarter * SynthEngine::SampleRate / 1e6;
    engine_.send(c);
    return true;
}

bool SynthStream::queue(const std::uint8_t *data, std::size_t length)
{
    if (closed_ || queued_ || data == nullptr || length == 0 || length % StreamEvent::Size != 0)
        return false;
    queued_ = true;
    buffer_ = ++engine_.lastBufferNumber_;
    pending_ = data;
    pendingLength_ = length;
    queuePending();
    return true;
}

void SynthStream::queuePending()
{
    if (pending_ == nullptr || !engine_.loadPresets(pending_, pendingLength_))
        return; // the engine calls again once it is silent
    SynthEngine::Command c{SynthEngine::Command::Queue, id_, pending_, pendingLength_, buffer_};
    pending_ = nullptr;
    engine_.send(c);
}

bool SynthStream::restart()
{
    if (closed_)
        return false;
    engine_.send({SynthEngine::Command::Start, id_});
    return true;
}

void SynthStream::stop()
{
    if (closed_)
        return;
    engine_.send({SynthEngine::Command::Stop, id_});
    pending_ = nullptr;
    if (queued_) {
        queued_ = false;
        postNotification(receiver_, Notification::Done);
    }
}

void SynthStream::close()
{
    if (closed_)
        return;
    detach();
    postNotification(receiver_, Notification::Close);
}

void SynthStream::detach()
{
    closed_ = true;
    pending_ = nullptr;
    engine_.send({SynthEngine::Command::Close, id_});
    engine_.detach(this);
}

void SynthStream::deliver(Notification notification, std::uint32_t buffer)
{
    if (closed_ || !queued_ || buffer != buffer_)
        return; // of a buffer stopped since
    if (notification == Notification::Done)
        queued_ = false;
    postNotification(receiver_, notification);
}

void SynthStream::end()
{
    if (closed_)
        return;
    if (queued_) {
        queued_ = false;
        postNotification(receiver_, Notification::Done);
    }
    close();
}

} // namespace midiout
