#pragma once

// The application's thread's side of the engine: the stream open on it (its states are written
// in EngineCrossing.h), its buffers and its notifications. It alone writes the play state and
// posts the notifications; it reads what the audio thread reports and what the service thread
// tells when the crossing's wake-up says so (a socket notifier in the application's event loop)
// or, offline, after each render.

#include "EngineCrossing.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class QObject;
class QSocketNotifier;

namespace midiout
{

class PresetLoader;
class SinkSupervisor;
class Stream;
class SynthCore;

class StreamControl
{
public:
    // supervisor: the real-time engine's; null offline, where what the renderer renders is
    // heard at once.
    StreamControl(SynthCore &core, EngineCrossing &crossing, PresetLoader &presets,
                  SinkSupervisor *supervisor);
    ~StreamControl(); // a stream opened here must be gone by then

    // Whether a stream may sound: the synthesizer loaded or loading, a way out (asked for).
    bool canPlay();
    // A new stream posting to receiver: Open is posted once the synthesizer and the sink are
    // ready, or Close alone if they cannot start. Null when canPlay() is false or a stream is open.
    std::unique_ptr<Stream> open(QObject *receiver);
    StreamState state() const { return state_.state; }

    // The operations of Stream on the stream numbered `stream`; nothing once it has closed.
    bool reset(std::uint32_t stream);
    bool setTickFrames(std::uint32_t stream, double tickFrames);
    bool queue(std::uint32_t stream, const std::uint8_t *data, std::size_t length);
    bool restart(std::uint32_t stream);
    void stop(std::uint32_t stream);
    void close(std::uint32_t stream, bool postClose);

    // Takes in what the other threads reported: notifications, the sink's news, a quiet
    // synthesizer a buffer waits for, the heard end of a closing stream; frees left buffers.
    void service();
    // The application object goes: the open stream ends, and the wake-up with its event loop.
    void applicationGone();

private:
    struct Buffer {
        static constexpr std::uint64_t NotYet = ~std::uint64_t(0);
        std::vector<std::uint8_t> bytes;
        std::uint32_t number = 0;
        // The frame count when the audio thread was told to leave it; NotYet until published.
        std::uint64_t retiredAt = NotYet;
    };
    struct OpenStream {
        std::uint32_t id = 0;
        QObject *receiver = nullptr;
        std::unique_ptr<Buffer> queued; // awaiting its Done
        bool waitsForPresets = false;
        bool unheard = false; // what it played may not have reached the sink yet
    };

    bool isOpen(std::uint32_t stream) const { return stream != 0 && open_.id == stream; }
    bool ready() const;
    void freshState(StreamState state, std::uint32_t stream);
    void publish(bool playNow);
    void retireQueued();
    void handOver(bool playNow);
    void startOpened();
    void closeNow(bool postClose, bool cut);
    void endStream();
    void watchWake();

    SynthCore &core_;
    EngineCrossing &crossing_;
    PresetLoader &presets_;
    SinkSupervisor *const supervisor_;
    PlayState state_;
    OpenStream open_;
    std::uint32_t lastStreamId_ = 0, lastBufferNumber_ = 0, seenStalls_ = 0;
    std::vector<std::unique_ptr<Buffer>> retired_;
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
};

} // namespace midiout
