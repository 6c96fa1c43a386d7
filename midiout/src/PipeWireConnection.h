#pragma once

// One connection to the PipeWire daemon on a thread loop of its own, as the PipeWire way out and
// the MIDI graph each hold one: libpipewire bound, the loop, its context and the core. The owner
// adds its listeners and objects, starts the loop, and in its destructor stops the loop before it
// destroys what it made; the connection then goes with its member.

#include "PipeWireApi.h"

#include <QString>

namespace midiout
{

class PipeWireConnection
{
public:
    // Binds libpipewire and connects (a refused socket fails at once); connected() says whether
    // it did, and error why not.
    PipeWireConnection(const char *loopName, QString *error);
    ~PipeWireConnection();
    PipeWireConnection(const PipeWireConnection &) = delete;
    PipeWireConnection &operator=(const PipeWireConnection &) = delete;

    bool connected() const { return core_ != nullptr; }
    // Null when libpipewire could not be bound.
    const PipeWireApi *api() const { return pw_; }
    pw_core *core() const { return core_; }
    pw_loop *loop() const { return pw_->pw_thread_loop_get_loop(loop_); }

    // Starts the loop's thread; false when it cannot run.
    bool start();
    // Joins the loop's thread; a node leaves the data thread after a cycle in progress. Callbacks
    // of the loop no longer run after it.
    void stop();

    // The loop's lock, held while the application's thread touches the connection's objects:
    // a local lock, never a wait for the daemon.
    class Locked
    {
    public:
        explicit Locked(const PipeWireConnection &connection) : connection_(connection)
        {
            connection_.pw_->pw_thread_loop_lock(connection_.loop_);
        }
        ~Locked() { connection_.pw_->pw_thread_loop_unlock(connection_.loop_); }
        Locked(const Locked &) = delete;
        Locked &operator=(const Locked &) = delete;

    private:
        const PipeWireConnection &connection_;
    };

private:
    const PipeWireApi *pw_ = nullptr;
    pw_thread_loop *loop_ = nullptr;
    pw_context *context_ = nullptr;
    pw_core *core_ = nullptr;
    bool running_ = false;
};

} // namespace midiout
