#pragma once

// A stream on a SynthEngine, on the GUI thread: it checks each call, hands it to the audio side
// as a command and posts the notifications. Open, the Done of stop() and Close are posted at
// once; Position and the Done at the end of a pass come from the audio side, and are dropped
// when they belong to a buffer that was stopped meanwhile. A buffer that needs presets not yet
// loaded waits until the engine is silent (after the reset that a tone generator sends) and
// they are loaded.

#include <midiout/Output.h>

#include <cstdint>

namespace midiout
{

class SynthEngine;

// Posts a notification to receiver through QCoreApplication::postEvent (nothing for null).
void postNotification(QObject *receiver, Notification notification);

class SynthStream final : public Stream
{
public:
    // The engine sends the open command and posts Open.
    SynthStream(SynthEngine &engine, QObject *receiver, std::uint32_t id);
    // Closes the stream without posting Close when close() was not called.
    ~SynthStream() override;

    void reset() override;
    bool setTimeDivision(int ticksPerQuarter) override;
    bool queue(const std::uint8_t *data, std::size_t length) override;
    bool restart() override;
    void stop() override;
    void close() override;

    std::uint32_t id() const { return id_; }
    // A notification of the audio side for buffer number `buffer`.
    void deliver(Notification notification, std::uint32_t buffer);
    // Hands over the buffer waiting for its presets once they are loaded.
    void queuePending();
    // The audio output went away: Done for a queued buffer, then Close.
    void end();

private:
    void detach();

    SynthEngine &engine_;
    QObject *receiver_;
    std::uint32_t id_;
    std::uint32_t buffer_ = 0; // number of the buffer queued last
    bool queued_ = false;
    bool closed_ = false;
    const std::uint8_t *pending_ = nullptr; // queued, waiting for its presets
    std::size_t pendingLength_ = 0;
};

} // namespace midiout
