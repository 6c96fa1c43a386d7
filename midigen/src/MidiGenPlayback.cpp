// Playback: the state machine that takes a component's stream from a play request to its close,
// its events (the two steps of a play request, the four notifications, Stop and destruction),
// and the device choice.
//
// Transitions, event by event. A phase an event does not name is left as it is, and nothing is
// done: a notification that a phase does not await is a stale one of a stream told to end.
//
//   event          phase                        next       what is done
//   request        Idle                         Preparing  the device of the next open is asked;
//                                                          one that cannot open: Idle, mgNoOutput
//                  Preparing .. Starting        -          refused, mgBusy
//                  Sounding                     Replacing  asks the device*, stops the stream
//                  Stopping                     Replacing  asks the device*
//                  Ending                       Clearing   asks the device*, cuts what is unheard
//                  then, from Replacing or Clearing, waits for the Close (back to Preparing)
//   assembled      Preparing                    Opening    opens the stream and waits for Open;
//                                                          refused (Idle) if another component
//                                                          owns the output or the open fails
//                  Preparing, once waited for   Idle       a Close came, not the Open: mgNoOutput
//                  Starting                     -          queues and restarts the stream; a
//                                                          failure ends it (Idle, mgStartFailed)
//   Open           Opening                      Starting   passes counted from Loops
//   Position       Starting                     Sounding
//   Done           Starting, Sounding           -          plays the buffer again, passes left
//                                               Ending     else ends the stream
//                  Stopping                     Ending     ends the stream
//                  Replacing                    Clearing   ends the stream
//   Close          Opening, Replacing, Clearing Preparing  the stream goes (a request waits)
//                  Starting .. Ending           Idle       the stream goes
//   Stop           any                          -          the current pass is the last
//                  Sounding                     Stopping   stops the stream
//                  Ending                       -          cuts what is unheard
//   destruction    Opening                      -          closes the stream
//                  Replacing                    Clearing   ends the stream
//                  Starting .. Stopping         Ending     ends the stream
//                  Clearing, Ending             -          cuts what is unheard
//                  then waits for the Close
//   * a device that cannot open refuses the request (mgNoOutput) and the stream plays on.
//
// "Ends the stream" is endStream(): stopped, reset, its buffer released, closed. IsPlaying is
// true from Starting to Ending; IsPlayingChanged() is told after each notification.

#include "MidiGen_p.h"
#include "OutputOwners.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace
{

// Process-wide: the identity handed to the next component (the owner of an output, see
// OutputOwners.h).
// Atomic: a component may be created on any thread, though only one thread is served.
std::atomic<quint32> instanceCounter{1};

// Ticks per quarter note of every stream: at the default tempo of 500,000 us per quarter note
// one tick is 10 ms.
constexpr int TimeDivision = 50;

// A wait for a notification gives up after this long and ends the stream itself. Every
// notification awaited is posted by the call that causes it, so it arrives at once; the bound
// only keeps a fault elsewhere from hanging the program.
constexpr int WaitLimitMs = 10000;

using midiout::Notification;

} // namespace

using Phase = TMidiGenPrivate::Phase;

quint32 TMidiGenPrivate::takeInstanceNumber()
{
    return instanceCounter.fetch_add(1);
}

bool TMidiGenPrivate::onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

TMidiGen::TMGRefusal TMidiGenPrivate::threadRefusal()
{
    if (onApplicationThread())
        return TMidiGen::mgNone;
    return QCoreApplication::instance() ? TMidiGen::mgWrongThread : TMidiGen::mgNoApplication;
}

template <typename Predicate> void TMidiGenPrivate::waitUntil(Predicate done)
{
    // Sleeps handling events until done() holds. Every notification awaited is posted by the
    // output once what causes it has happened; the deadline only keeps a fault elsewhere from
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
    // No event loop can deliver the stream's notifications (the application object has gone):
    // the stream ends here.
    if (stream_)
        stream_->close();
    QCoreApplication::removePostedEvents(notificationReceiver_,
                                         midiout::NotificationEvent::eventType());
    if (hasStream())
        handleNotification(Notification::Close);
}

bool TMidiGenPrivate::PrepareToPlay()
{
    // Refuses a request while the previous one has not begun to sound and one nested in its
    // waits. The device of the next open is asked before anything else: one that cannot be
    // opened is refused at once, and a stream that sounds plays on (an open stream keeps its
    // device). Only then is a sounding stream stopped, and the request waits until it has
    // closed.
    switch (phase_) {
    case Phase::Preparing:
    case Phase::Replacing:
    case Phase::Clearing:
    case Phase::Opening:
    case Phase::Starting:
        return refuse(TMidiGen::mgBusy);
    case Phase::Idle:
        phase_ = Phase::Preparing; // a request made while the device is asked is busy
        if (!output_.probe(device_))
            return refuseRequest(TMidiGen::mgNoOutput);
        return true;
    case Phase::Sounding:
        if (!output_.probe(device_))
            return refuse(TMidiGen::mgNoOutput);
        stream_->stop();
        phase_ = Phase::Replacing;
        break;
    case Phase::Stopping:
        if (!output_.probe(device_))
            return refuse(TMidiGen::mgNoOutput);
        phase_ = Phase::Replacing;
        break;
    case Phase::Ending:
        if (!output_.probe(device_))
            return refuse(TMidiGen::mgNoOutput);
        stream_->stop(); // what it left to be heard is cut: its Close comes at once
        phase_ = Phase::Clearing;
        break;
    }
    loopCounter_ = 1;
    waitUntil([this] { return !hasStream(); });
    return true;
}

bool TMidiGenPrivate::AssembleAndPlay(midigen::EventList list, bool bendAllowed)
{
    // Only one component at a time owns the output. A request that starts nothing leaves the
    // component ready for the next one.
    if (!midigen::mayPlayOn(output_, instanceNumber_))
        return refuseRequest(TMidiGen::mgOutputOwned); // list released on return
    AssembleStream(std::move(list), bendAllowed);

    // The output opens the stream once it can play: at once (its Open may even come inside
    // open()), or when its synthesizer and sound server are ready; a Close alone says it cannot
    // after all.
    phase_ = Phase::Opening;
    stream_ = output_.open(device_, notificationReceiver_);
    if (!stream_) {
        releaseStreamBuffer();
        return refuseRequest(TMidiGen::mgOpenFailed);
    }
    waitUntil([this] { return phase_ != Phase::Opening; });
    if (phase_ != Phase::Starting) {
        releaseStreamBuffer();
        return refuseRequest(TMidiGen::mgNoOutput);
    }
    midigen::takeOutput(output_, instanceNumber_);
    stream_->reset();
    if (!stream_->setTimeDivision(TimeDivision))
        return abandonStartedStream();

    // The output plays a copy of the buffer, which stays for the passes that follow.
    if (!stream_->queue(streamBuffer_.data(), streamBuffer_.size()) || !stream_->restart())
        return abandonStartedStream();
    return true;
}

void TMidiGenPrivate::handleNotification(Notification notification)
{
    switch (notification) {
    case Notification::Open:
        opened();
        break;
    case Notification::Position:
        firstEventReached();
        break;
    case Notification::Done:
        passEnded();
        break;
    case Notification::Close:
        closed();
        break;
    }
    // Told once the state is whole again; a Close that the output told inside the step's
    // close() has been told there already.
    if (isPlaying() != toldPlaying_) {
        toldPlaying_ = isPlaying();
        emit q_ptr->IsPlayingChanged(toldPlaying_);
    }
}

void TMidiGenPrivate::opened()
{
    if (phase_ == Phase::Opening) {
        phase_ = Phase::Starting;
        loopCounter_ = loops_;
    }
}

void TMidiGenPrivate::firstEventReached()
{
    if (phase_ == Phase::Starting)
        phase_ = Phase::Sounding;
}

void TMidiGenPrivate::passEnded()
{
    // The phase first: an output may tell the Close inside close().
    switch (phase_) {
    case Phase::Starting:
    case Phase::Sounding:
        if (repeatPass())
            return;
        phase_ = Phase::Ending;
        endStream();
        return;
    case Phase::Stopping:
        phase_ = Phase::Ending;
        endStream();
        return;
    case Phase::Replacing:
        phase_ = Phase::Clearing;
        endStream();
        return;
    case Phase::Idle:
    case Phase::Preparing:
    case Phase::Clearing:
    case Phase::Opening:
    case Phase::Ending:
        return;
    }
}

void TMidiGenPrivate::closed()
{
    switch (phase_) {
    case Phase::Idle:
    case Phase::Preparing:
        return;
    case Phase::Opening: // a Close before the Open: the output could not start the stream
    case Phase::Replacing:
    case Phase::Clearing:
        phase_ = Phase::Preparing; // the request that waits goes on
        break;
    case Phase::Starting:
    case Phase::Sounding:
    case Phase::Stopping:
    case Phase::Ending:
        phase_ = Phase::Idle;
        break;
    }
    stream_.reset();
}

void TMidiGenPrivate::stopAfterPass()
{
    // The current pass is the last; a stream past its first event stops at once, and one that
    // has ended is no longer waited for.
    loopCounter_ = 1;
    switch (phase_) {
    case Phase::Sounding:
        stream_->stop();
        phase_ = Phase::Stopping;
        break;
    case Phase::Ending:
        stream_->stop();
        break;
    default:
        break;
    }
}

void TMidiGenPrivate::endStreamAndWait()
{
    loopCounter_ = 1;
    switch (phase_) {
    case Phase::Idle:
    case Phase::Preparing:
        return;
    case Phase::Opening:
        stream_->close();
        break;
    // The phase first: an output may tell the Close inside close().
    case Phase::Replacing:
        phase_ = Phase::Clearing;
        endStream();
        break;
    case Phase::Starting:
    case Phase::Sounding:
    case Phase::Stopping:
        phase_ = Phase::Ending;
        endStream();
        break;
    case Phase::Clearing:
    case Phase::Ending:
        stream_->stop(); // nothing is left to be heard: its Close comes at once
        break;
    }
    waitUntil([this] { return !hasStream(); });
}

bool TMidiGenPrivate::abandonStartedStream()
{
    endStreamAndWait();
    return refuseRequest(TMidiGen::mgStartFailed);
}

bool TMidiGenPrivate::refuseRequest(TMidiGen::TMGRefusal reason)
{
    phase_ = Phase::Idle;
    return refuse(reason);
}

bool TMidiGenPrivate::isPlaying() const
{
    switch (phase_) {
    case Phase::Idle:
    case Phase::Preparing:
    case Phase::Opening:
        return false;
    default:
        return true;
    }
}

void TMidiGenPrivate::endStream()
{
    stream_->stop();
    stream_->reset();
    releaseStreamBuffer();
    stream_->close();
}

bool TMidiGenPrivate::repeatPass()
{
    if (loopCounter_ == 1)
        return false;
    stream_->queue(streamBuffer_.data(), streamBuffer_.size());
    stream_->restart();
    if (loopCounter_ > 1)
        --loopCounter_;
    return true;
}

TMidiGen::~TMidiGen()
{
    Q_D(TMidiGen);
    // No slot runs on a component that is being destroyed (QObject still emits destroyed()).
    blockSignals(true);
    // The stream ends at once, also when its first event has not been reached yet (its pass
    // would otherwise have to play out first).
    d->endStreamAndWait();
    midigen::releaseOutputs(d->instanceNumber_); // another component may play on them now
    delete d->notificationReceiver_;
}

bool TMidiGen::MidiAvailable()
{
    // Only the application object's thread is served: without one, or from another thread, no
    // notification could be delivered.
    Q_D(TMidiGen);
    if (!TMidiGenPrivate::onApplicationThread())
        return false;
    return d->hasStream() || d->output_.probe(d->device_);
}

bool TMidiGen::SetDevice(qint32 device)
{
    Q_D(TMidiGen);
    if (TMidiGenPrivate::threadRefusal() != mgNone)
        return false;
    d->device_ = device;
    const int count = d->output_.deviceCount();
    return count > 0 && device < count;
}

void TMidiGen::Stop()
{
    Q_D(TMidiGen);
    if (TMidiGenPrivate::threadRefusal() == mgNone)
        d->stopAfterPass();
}
