#pragma once

// SIGINT and SIGTERM while play plays: the stream is stopped first, so that the device gets its
// reset (every note off, the controllers reset), and then the tool exits with 128 + the
// signal's number (130, 143).

#include <QSocketNotifier>

#include <csignal>
#include <memory>

class TMidiGen;

namespace tool
{

// While it lives, SIGINT and SIGTERM are caught instead of ending the process: the handler only
// writes the signal's number into a pipe, which a socket notifier reads on the application
// object's thread. One at a time; the signals' earlier handling comes back when it goes.
class Interruption
{
public:
    // Failure when the pipe cannot be made or another Interruption lives.
    Interruption();
    ~Interruption();
    Interruption(const Interruption &) = delete;
    Interruption &operator=(const Interruption &) = delete;

    // The first signal caught (SIGINT or SIGTERM), 0 while none has been. Read on the
    // application object's thread once its events have been handled.
    int signal() const { return signal_; }
    // 128 + signal(): 130 after SIGINT, 143 after SIGTERM.
    int exitStatus() const { return 128 + signal_; }

private:
    void readPipe();

    int pipe_[2] = {-1, -1};
    struct sigaction previousInt_ = {};
    struct sigaction previousTerm_ = {};
    std::unique_ptr<QSocketNotifier> notifier_;
    int signal_ = 0;
};

// Handles events until generator's stream has closed and returns 0; or, once interruption has
// caught a signal, stops the stream (at once once it has begun to sound), waits for its close
// (at most a few seconds; the generator's destructor ends what is left) and returns
// interruption.exitStatus().
int playToTheEnd(TMidiGen &generator, const Interruption &interruption);

} // namespace tool
