// Playback: the play-request steps around the stream, the notification handler that drives a
// stream once it has started, Stop, the device choice and destruction.

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

// The thread the output is served on: the application object's.
bool onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

using Phase = TMidiGenPrivate::Phase;
using midiout::Notification;

// What a notification does in each phase: the phase it leads to and what is done on the way.
// A notification that a phase does not await (a stale one of a stream told to stop or ending)
// leaves the phase as it is.
enum class Action : quint8 {
    None,
    Opened,  // the stream is open: its passes are counted from Loops
    PassEnd, // plays the buffer again while passes remain (the phase stays), else ends it
    End,     // ends the stream: stopped, reset, closed
    Closed,  // the stream has closed: its handle goes
};
struct Step {
    Phase next;
    Action action;
};
constexpr int NotificationCount = 4; // Open, Position, Done, Close
using enum Phase;
using enum Action;
// A Close before the Open: the output could not start the stream after all.
// clang-format off
constexpr Step Steps[][NotificationCount] = {
    //              Open                Position           Done               Close
    /* Idle */      {{Idle, None},      {Idle, None},      {Idle, None},      {Idle, None}},
    /* Preparing */ {{Preparing, None}, {Preparing, None}, {Preparing, None}, {Preparing, None}},
    /* Replacing */ {{Replacing, None}, {Replacing, None}, {Clearing, End},   {Preparing, Closed}},
    /* Clearing */  {{Clearing, None},  {Clearing, None},  {Clearing, None},  {Preparing, Closed}},
    /* Opening */   {{Starting, Opened},{Opening, None},   {Opening, None},   {Preparing, Closed}},
    /* Starting */  {{Starting, None},  {Sounding, None},  {Ending, PassEnd}, {Idle, Closed}},
    /* Sounding */  {{Sounding, None},  {Sounding, None},  {Ending, PassEnd}, {Idle, Closed}},
    /* Stopping */  {{Stopping, None},  {Stopping, None},  {Ending, End},     {Idle, Closed}},
    /* Ending */    {{Ending, None},    {Ending, None},    {Ending, None},    {Idle, Closed}},
};
// clang-format on
static_assert(std::size(Steps) == std::size_t(Phase::Ending) + 1, "a row for every phase");

} // namespace

quint32 TMidiGenPrivate::takeInstanceNumber()
{
    return instanceCounter.fetch_add(1);
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

bool TMidiGenPrivate::PrepareToPlay()
{
    // Refuses a request while the previous one has not begun to sound and one nested in its
    // waits. The device of the next open is asked before anything else: one that cannot be
    // opened is refused at once, and a stream that sounds plays on. Only then is a sounding
    // stream stopped, and the request waits until it has closed.
    switch (phase_) {
    case Phase::Preparing:
    case Phase::Replacing:
    case Phase::Clearing:
    case Phase::Opening:
    case Phase::Starting:
        return refuse(TMidiGen::mgBusy);
    case Phase::Idle:
        phase_ = Phase::Preparing; // a request made while the device is asked is busy
        if (!output_.probe(device_)) {
            phase_ = Phase::Idle;
            return refuse(TMidiGen::mgNoOutput);
        }
        return true;
    case Phase::Sounding:
    case Phase::Stopping:
    case Phase::Ending:
        // An open stream keeps its device; the one asked is that of the next open.
        if (!output_.probe(device_))
            return refuse(TMidiGen::mgNoOutput);
        break;
    }
    switch (phase_) {
    case Phase::Sounding:
        stream_->stop();
        phase_ = Phase::Replacing;
        break;
    case Phase::Stopping:
        phase_ = Phase::Replacing;
        break;
    case Phase::Ending:
        stream_->stop(); // what it left to be heard is cut: its Close comes at once
        phase_ = Phase::Clearing;
        break;
    default:
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
    if (!midigen::mayPlayOn(output_, instanceNumber_)) {
        phase_ = Phase::Idle;
        return refuse(TMidiGen::mgOutputOwned); // list released on return
    }
    AssembleStream(std::move(list), bendAllowed);

    // The output opens the stream once it can play: at once (its Open may even come inside
    // open()), or when its synthesizer and sound server are ready; a Close alone says it cannot
    // after all.
    phase_ = Phase::Opening;
    stream_ = output_.open(device_, notificationReceiver_);
    if (!stream_) {
        releaseStreamBuffer();
        phase_ = Phase::Idle;
        return refuse(TMidiGen::mgOpenFailed);
    }
    waitUntil([this] { return phase_ != Phase::Opening; });
    if (phase_ != Phase::Starting) {
        releaseStreamBuffer();
        phase_ = Phase::Idle;
        return refuse(TMidiGen::mgNoOutput);
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

bool TMidiGenPrivate::abandonStartedStream()
{
    endStreamAndWait();
    phase_ = Phase::Idle;
    return refuse(TMidiGen::mgStartFailed);
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

void TMidiGenPrivate::handleNotification(Notification notification)
{
    const Phase from = phase_;
    const Step step = Steps[int(from)][int(notification)];
    phase_ = step.next;
    switch (step.action) {
    case Action::None:
        break;
    case Action::Opened:
        loopCounter_ = loops_;
        break;
    case Action::PassEnd:
        if (repeatPass())
            phase_ = from;
        else
            endStream();
        break;
    case Action::End:
        endStream();
        break;
    case Action::Closed:
        stream_.reset();
        break;
    }
    // Told once the state is whole again, so that a slot may make the next request; a Close
    // that the output told inside the action's close() has been told there already.
    if (isPlaying() != toldPlaying_) {
        toldPlaying_ = isPlaying();
        emit q_ptr->IsPlayingChanged(toldPlaying_);
    }
}

bool TMidiGenPrivate::MidiAvailable()
{
    // Only the application object's thread is served: without one, or from another thread, no
    // notification could be delivered.
    if (!onApplicationThread())
        return false;
    return hasStream() || output_.probe(device_);
}

bool TMidiGenPrivate::SetDevice(qint32 device)
{
    device_ = device;
    const int count = output_.deviceCount();
    return count > 0 && device < count;
}

void TMidiGenPrivate::Stop()
{
    // The current pass is the last; a stream past its first event stops at once, and one that
    // has ended is no longer waited for.
    loopCounter_ = 1;
    if (phase_ == Phase::Sounding) {
        stream_->stop();
        phase_ = Phase::Stopping;
    } else if (phase_ == Phase::Ending) {
        stream_->stop();
    }
}
