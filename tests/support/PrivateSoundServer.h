#pragma once

// A PulseAudio server of our own with a null sink, for tests and benchmarks that need a real
// sound server without a sound card. start() points this process's PulseAudio clients at it
// (XDG_RUNTIME_DIR); kill() ends it by its pid; start() again brings it back at the same place;
// suspend() freezes it until resume().

#include <QTemporaryDir>

#include <sys/types.h>

namespace testsupport
{

class PrivateSoundServer
{
public:
    // The null sink's monitor, to record what reaches the sink.
    static constexpr const char *Monitor = "null.monitor";

    PrivateSoundServer() = default;
    ~PrivateSoundServer() { kill(); }
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    // False when pulseaudio is missing or does not come up within 5 s.
    bool start();
    // SIGKILL to the server's pid (gone at once, as in a crash), then waits for its end.
    void kill();
    bool running() const { return pid_ > 0; }
    // SIGSTOP and SIGCONT to the server: it stands still, as a server that stops answering,
    // and goes on where it stood.
    void suspend();
    void resume();

private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
};

} // namespace testsupport
