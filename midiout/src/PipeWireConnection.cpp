#include "PipeWireConnection.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace midiout
{

namespace
{

MIDIOUT_DEFINE_TABLE_LOADER(PipeWireApi, MIDIOUT_PIPEWIRE_FUNCTIONS, "libpipewire-0.3.so.0",
                            BindPipeWireApi)

// Bound once per process, pw_init() called; null with the reason when libpipewire cannot be
// loaded.
const PipeWireApi *loadPipeWireApi(QString *error)
{
    static const PipeWireApi *const api = [error] {
        const PipeWireApi *table = BindPipeWireApi(error);
        if (table != nullptr)
            table->pw_init(nullptr, nullptr);
        return table;
    }();
    if (api == nullptr && error != nullptr)
        BindPipeWireApi(error);
    return api;
}

// Held while a connection is made: making one reads the user's passwd entry with getpwuid(),
// which is not thread-safe, and the sink and the MIDI graph connect on two threads.
std::mutex connectLock;

} // namespace

PipeWireConnection::PipeWireConnection(const char *loopName, QString *error)
{
    pw_ = loadPipeWireApi(error);
    if (pw_ == nullptr)
        return;
    const std::lock_guard lock(connectLock);
    loop_ = pw_->pw_thread_loop_new(loopName, nullptr);
    if (loop_ != nullptr)
        context_ = pw_->pw_context_new(pw_->pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ != nullptr)
        core_ = pw_->pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr && error != nullptr)
        *error = QStringLiteral("PipeWire: %1").arg(QString::fromLocal8Bit(strerror(errno)));
}

PipeWireConnection::~PipeWireConnection()
{
    stop();
    if (core_ != nullptr)
        pw_->pw_core_disconnect(core_);
    if (context_ != nullptr)
        pw_->pw_context_destroy(context_);
    if (loop_ != nullptr)
        pw_->pw_thread_loop_destroy(loop_);
}

bool PipeWireConnection::start()
{
    running_ = pw_->pw_thread_loop_start(loop_) >= 0;
    return running_;
}

void PipeWireConnection::stop()
{
    if (running_)
        pw_->pw_thread_loop_stop(loop_);
    running_ = false;
}

} // namespace midiout
