#pragma once

// A sound server of our own with a null sink, for tests and benchmarks that need a real sound
// server without a sound card: PulseAudio, or PipeWire with its session manager, its PulseAudio
// service and a session bus. start() points this process's clients at it (XDG_RUNTIME_DIR);
// kill() ends it by its pids; start() again brings it back at the same place; suspend() freezes
// the server (PipeWire's daemon) until resume().

#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

#include <vector>

namespace testsupport
{

class PrivateSoundServer
{
public:
    enum class Kind { PulseAudio, PipeWire };
    // The null sink's monitor, to record what reaches the sink (on PipeWire through its
    // PulseAudio service).
    static constexpr const char *Monitor = "null.monitor";

    explicit PrivateSoundServer(Kind kind = Kind::PulseAudio) : kind_(kind) {}
    ~PrivateSoundServer() { kill(); }
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    // The programs of this kind of server that are not on PATH, and whether there are none.
    static QStringList missingPrograms(Kind kind);
    static bool installed(Kind kind) { return missingPrograms(kind).isEmpty(); }
    Kind kind() const { return kind_; }
    // False when a program is missing or the server does not come up within 10 s.
    bool start();
    // SIGKILL to the server's pids (gone at once, as in a crash), then waits for their end.
    void kill();
    bool running() const { return !pids_.empty(); }
    // SIGSTOP and SIGCONT to the server: it stands still, as a server that stops answering,
    // and goes on where it stood.
    void suspend();
    void resume();

private:
    bool startPulseAudio();
    bool startPipeWire();
    pid_t spawn(const QStringList &command);
    QString runtime() const { return dir_.filePath(QStringLiteral("runtime")); }

    const Kind kind_;
    QTemporaryDir dir_;
    std::vector<pid_t> pids_; // the server first
};

} // namespace testsupport
