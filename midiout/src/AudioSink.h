#pragma once

// A way out of the engine: how rendered samples reach a sound server. One small unit per server;
// a sink knows the format it is handed and the render function it calls, nothing of the engine.

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace midiout
{

// What a sink plays and calls. render() fills the next frames, interleaved, and is told how many
// frames the sink still holds ahead of them, not yet heard; it follows the real-time rules: no
// lock held long, no allocation, no Qt call, no blocking system call. changed() is called when
// the sink's state() changes; it must not block either. Both run on the sink's own threads.
struct SinkClient {
    void (*render)(void *context, float *out, std::size_t frames,
                   std::size_t queuedFrames) = nullptr;
    void *context = nullptr;
    void (*changed)(void *changedContext) = nullptr;
    void *changedContext = nullptr;
    int rate = 0; // frames a second
    int channels = 0;
};

class AudioSink
{
public:
    // Connecting at first; becomes Ready or Lost by itself. Ready: play() is heard, pause() is
    // silent. Lost: the server refused or went away; nothing more is rendered.
    enum class State { Connecting, Ready, Lost };

    // Stops the sink's threads: nothing is rendered once the destructor returns. Never waits for
    // the server, only for the sink's own threads to leave a render.
    virtual ~AudioSink() = default;

    State state() const { return state_.load(); } // any thread
    // Why the sink is Lost; empty otherwise. Any thread.
    QString error() const { return state() == State::Lost ? error_ : QString(); }
    // Drops what the server still holds of earlier samples, calls publish() before anything
    // rendered later can reach the server, and asks for samples at once (starting a paused
    // sink): what is published is heard next, whole. Returns without waiting for the server.
    virtual void play(const std::function<void()> &publish) = 0;
    // Stops asking for samples until the next play(): an idle output costs no CPU.
    virtual void pause() = 0;

protected:
    explicit AudioSink(const SinkClient &client) : client_(client) {}
    // On the sink's threads: Connecting becomes Ready; any state becomes Lost, once.
    void setReady()
    {
        State connecting = State::Connecting;
        if (state_.compare_exchange_strong(connecting, State::Ready) && client_.changed)
            client_.changed(client_.changedContext);
    }
    void lose(const QString &why)
    {
        if (state_.load() == State::Lost)
            return;
        error_ = why; // written before the state says Lost, read only after
        state_.store(State::Lost);
        if (client_.changed)
            client_.changed(client_.changedContext);
    }

    const SinkClient client_;

private:
    std::atomic<State> state_{State::Connecting};
    QString error_;
};

// The desktop's sound server, whichever answers: PipeWire's own client API when a PipeWire
// daemon accepts the connection, else PulseAudio (also PipeWire's PulseAudio service). Stream
// name `name`. Null with the reasons when neither library can be loaded.
std::unique_ptr<AudioSink> OpenDesktopSink(const SinkClient &client, const char *name,
                                           QString *error);

// A PipeWire stream; null with the reason when libpipewire cannot be loaded or no PipeWire
// daemon accepts the connection (which fails at once).
std::unique_ptr<AudioSink> OpenPipeWireSink(const SinkClient &client, const char *name,
                                            QString *error);
// libpulse's asynchronous API; null with the reason when libpulse cannot be loaded.
std::unique_ptr<AudioSink> OpenPulseSink(const SinkClient &client, const char *name,
                                         QString *error);

} // namespace midiout
