#include "Interruption.h"

#include "Verbs.h"

#include <midigen/MidiGen.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace tool
{

namespace
{

// A signal handler reaches nothing but what is process-wide: the pipe's writing end while an
// Interruption lives, -1 otherwise. Lock-free, so the handler may read it.
std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe: one write(2), errno kept for the code it interrupted. A full pipe drops
// the byte: one signal in it is enough.
extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe.load(), &byte, 1);
    errno = savedErrno;
}

// How long a stopped stream may take to close before the tool leaves that to the generator's
// destructor, which ends it at once: long enough for a stream before its first event to reach it.
constexpr int StopLimitMs = 5000;

} // namespace

Interruption::Interruption()
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure("cannot watch for signals: " + QByteArray(std::strerror(errno)));
    int none = -1;
    if (!signalPipe.compare_exchange_strong(none, pipe_[1])) {
        ::close(pipe_[0]);
        ::close(pipe_[1]);
        throw Failure("cannot watch for signals twice");
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readPipe(); });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the library's and Qt's system calls go on
    ::sigaction(SIGINT, &action, &previousInt_);
    ::sigaction(SIGTERM, &action, &previousTerm_);
}

Interruption::~Interruption()
{
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    signalPipe.store(-1);
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void Interruption::readPipe()
{
    unsigned char bytes[16];
    ssize_t got;
    while ((got = ::read(pipe_[0], bytes, sizeof bytes)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0 && signal_ == 0)
            signal_ = bytes[0];
    }
}

int playToTheEnd(TMidiGen &generator, const Interruption &interruption)
{
    // Every notification and the signal's pipe wake the loop; after a signal the timer does too,
    // so that the stop's bound is seen and a stream that reaches its first event is stopped there.
    QTimer wakeUp;
    QDeadlineTimer stopDeadline(QDeadlineTimer::Forever);
    while (generator.IsPlaying()) {
        if (interruption.signal() != 0) {
            if (stopDeadline.isForever()) {
                stopDeadline.setRemainingTime(StopLimitMs);
                wakeUp.start(50);
            } else if (stopDeadline.hasExpired()) {
                break;
            }
            // At once once the stream has begun to sound; before that it ends after this pass.
            generator.Stop();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return interruption.signal() != 0 ? interruption.exitStatus() : 0;
}

} // namespace tool
