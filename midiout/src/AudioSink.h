#pragma once

// A way out of the engine: how rendered samples reach a sound server. One small unit per server
// beside the engine, which does not know which one it talks to.

#include <QString>

#include <cstddef>
#include <memory>

namespace midiout
{

// What a sink calls on its own real-time thread. render() fills the next frames (planar stereo)
// and follows the real-time rules: no lock held long, no allocation, no Qt call, no blocking
// system call. changed() is called when the sink's state() changes; it must not block either.
struct SinkClient {
    void (*render)(void *context, float *left, float *right, std::size_t frames) = nullptr;
    void (*changed)(void *context) = nullptr;
    void *context = nullptr;
};

class AudioSink
{
public:
    enum class State {
        Connecting, // asking the server for a stream; becomes Ready or Lost by itself
        Ready,      // play() is heard, pause() is silent
        Lost,       // the server refused or went away: nothing more is rendered; make a new sink
    };

    // Stops the sink's thread: nothing is rendered once the destructor returns. Never waits for
    // the server, only for the sink's own thread to leave a render.
    virtual ~AudioSink() = default;

    virtual State state() const = 0; // any thread
    // Why the sink is Lost; empty otherwise. Any thread once state() says Lost.
    virtual QString error() const = 0;
    // Drops what the server still holds of earlier samples and asks for fresh ones at once, so
    // that what is rendered next is heard next; starts a paused sink. Returns without waiting
    // for the server. One thread at a time.
    virtual void play() = 0;
    // Stops asking for samples until the next play(): an idle output costs no CPU.
    virtual void pause() = 0;
};

// The desktop's sound server, whichever answers: PipeWire's own client API when a PipeWire
// daemon accepts the connection, else PulseAudio (also PipeWire's PulseAudio service). Stream
// name `name`; Connecting at first. Null with the reasons when neither library can be loaded.
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
