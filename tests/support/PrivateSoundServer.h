#pragma once

// A PulseAudio server of our own with a null sink, for tests and benchmarks that need a real
// sound server without a sound card. start() points this process's PulseAudio clients at it
// (XDG_RUNTIME_DIR); kill() ends it by its pid; start() again brings it back at the same place.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport
{

class PrivateSoundServer
{
public:
    // The null sink's monitor, to record what reaches the sink.
    static constexpr const char *Monitor = "null.monitor";

    ~PrivateSoundServer() { kill(); }
    // False when pulseaudio is missing or does not come up within 5 s.
    bool start();
    void kill();
    bool running() const { return server_.state() != QProcess::NotRunning; }

private:
    QTemporaryDir dir_;
    QProcess server_;
};

} // namespace testsupport
