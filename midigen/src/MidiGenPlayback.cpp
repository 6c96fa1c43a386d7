// Playback: the play-request steps around the stream, the notification handler that drives a
// stream once it has started, Stop, the device choice and destruction.

#include "MidiGen_p.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace
{

// Process-wide: the identity handed to the next component. The output owner lives on the
// midiout::Output the component plays on.
// Atomic: a component may be created on any thread, though only one thread is served.
std::atomic<quint32> instanceCounter{1};

// Ticks per quarter note of every stream: at the default tempo of 500,000 us per quarter note
// one tick is 10 ms.
constexpr int TimeDivision = 50;

// A wait for a notification gives up after this long and ends the stream itself. Every
// notification awaited is posted by the call that causes it, so it arrives at once; the bound
// only keeps a fault elsewhere from hanging the program.
constexpr int WaitLimitMs = 10000;

// The thread the output is served on: the application object's.
bool onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace

quint32 TMidiGenPrivate::takeInstanceNumber()
{
    return instanceCounter.fetch_add(1);
}

template <typename Predicate> void TMidiGenPrivate::waitUntil(Predicate done)
{
    // Sleeps handling events until done() holds. Every notification awaited is posted by the
    // call that causes it, so it arrives at once; the deadline only keeps a fault elsewhere from
    // hanging the program.
    if (onApplicationThread()) {
        const QDeadlineTimer deadline(WaitLimitMs);
        QTimer wakeUp; // bounds each sleep, so that the deadline is seen
        wakeUp.start(WaitLimitMs / 10);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done())
            return;
    }
    // No event loop can deliver the stream's notifications (the application object has gone,
    // or this is another thread): the stream ends here.
    if (stream_)
        stream_->close();
    QCoreApplication::removePostedEvents(notificationReceiver_,
                                         midiout::NotificationEvent::eventType());
    if (open_)
        handleNotification(midiout::Notification::Close);
}

TMidiGen::~TMidiGen()
{
    Q_D(TMidiGen);
    // No slot runs on a component that is being destroyed (QObject still emits destroyed()).
    blockSignals(true);
    // The stream ends at once, also when its first event has not been reached yet (its pass
    // would otherwise have to play out first).
    d->endStreamAndWait();
    delete d->notificationReceiver_;
}

bool TMidiGenPrivate::PrepareToPlay()
{
    // Refuses a request while the previous one has not begun to sound, one nested in its wait,
    // and one from a thread the output does not serve. The ready flag is cleared before the
    // availability check, so that nothing the check runs can start a nested request.
    if (!ready_)
        return refuse(TMidiGen::mgBusy);
    if (!onApplicationThread())
        return refuse(QCoreApplication::instance() ? TMidiGen::mgWrongThread
                                                   : TMidiGen::mgNoApplication);
    ready_ = false;
    if (!MidiAvailable()) {
        ready_ = true;
        return refuse(TMidiGen::mgNoOutput);
    }
    continue_ = false;
    if (open_ && !closing_) {
        stopRequested_ = true;
        stream_->stop();
    }
    waitUntil([this] { return !open_; });
    return true;
}

bool TMidiGenPrivate::AssembleAndPlay(midigen::EventList list, bool bendAllowed)
{
    // Only one component at a time owns the output. A request that starts nothing leaves the
    // component ready for the next one.
    const quint32 owner = output_.owner();
    if (owner != 0 && owner != instanceNumber_) {
        ready_ = true;
        return refuse(TMidiGen::mgOutputOwned); // list released on return
    }
    AssembleStream(std::move(list), bendAllowed);
    waitUntil([this] { return !open_; });

    stream_ = output_.open(device_, notificationReceiver_);
    if (!stream_) {
        releaseStreamBuffer();
        ready_ = true;
        return refuse(TMidiGen::mgOpenFailed);
    }
    waitUntil([this] { return open_; });
    output_.setOwner(instanceNumber_);
    stream_->reset();
    if (!stream_->setTimeDivision(TimeDivision))
        return abandonStartedStream();

    header_ = {streamBuffer_.data(), streamBuffer_.size(), streamBuffer_.size()};
    if (!stream_->queue(header_.data, header_.bytesRecorded) || !stream_->restart())
        return abandonStartedStream();
    return true;
}

bool TMidiGenPrivate::abandonStartedStream()
{
    endStreamAndWait();
    ready_ = true;
    return refuse(TMidiGen::mgStartFailed);
}

void TMidiGenPrivate::endStreamAndWait()
{
    continue_ = false;
    if (open_ && !closing_)
        endStream();
    waitUntil([this] { return !open_; });
}

void TMidiGenPrivate::endStream()
{
    closing_ = true;
    stream_->stop();
    stream_->reset();
    header_ = {};
    releaseStreamBuffer();
    stream_->close();
}

void TMidiGenPrivate::handleNotification(midiout::Notification notification)
{
    const bool wasPlaying = isPlaying_;
    switch (notification) {
    case midiout::Notification::Open:
        open_ = true;
        isPlaying_ = true;
        continue_ = true;
        loopCounter_ = loops_;
        firstEventReached_ = false;
        break;
    case midiout::Notification::Position:
        // A first event reached after the stream was told to stop belongs to a stream that is
        // ending; it must not release a request that is still being prepared.
        if (!stopRequested_) {
            ready_ = true;
            firstEventReached_ = true;
        }
        break;
    case midiout::Notification::Done:
        if (closing_ || !stream_)
            break;
        if (continue_ && loopCounter_ != 1) {
            stream_->queue(header_.data, header_.bytesRecorded);
            stream_->restart();
            if (loopCounter_ > 1)
                --loopCounter_;
        } else {
            endStream();
        }
        break;
    case midiout::Notification::Close:
        // A stream that closes before its first event (its output went away) can no longer
        // release the request that started it: the component is ready again.
        if (!firstEventReached_)
            ready_ = true;
        open_ = false;
        stream_.reset();
        isPlaying_ = false;
        continue_ = false;
        closing_ = false;
        stopRequested_ = false;
        break;
    }
    // Told once the state is whole again, so that a slot may make the next request.
    if (isPlaying_ != wasPlaying)
        emit q_ptr->IsPlayingChanged(isPlaying_);
}

bool TMidiGenPrivate::MidiAvailable()
{
    // Only the application object's thread is served: without one, or from another thread, no
    // notification could be delivered.
    if (!onApplicationThread())
        return false;
    return open_ || output_.probe(device_);
}

bool TMidiGenPrivate::SetDevice(qint32 device)
{
    device_ = device;
    const int count = output_.deviceCount();
    return count > 0 && device < count;
}

void TMidiGenPrivate::Stop()
{
    continue_ = false;
    if (open_ && ready_ && !closing_) {
        stopRequested_ = true;
        stream_->stop();
    }
}
