#pragma once

// A stream on a SynthEngine: a handle that names the engine's open stream by its number. The
// engine checks each call and posts the notifications.

#include <midiout/Output.h>

#include <cstdint>

namespace midiout
{

class SynthEngine;

class SynthStream final : public Stream
{
public:
    SynthStream(SynthEngine &engine, std::uint32_t id) : engine_(engine), id_(id) {}
    // Closes the stream without posting Close when close() was not called.
    ~SynthStream() override;

    void reset() override;
    bool setTimeDivision(int ticksPerQuarter) override;
    bool queue(const std::uint8_t *data, std::size_t length) override;
    bool restart() override;
    void stop() override;
    void close() override;

private:
    SynthEngine &engine_;
    const std::uint32_t id_;
};

} // namespace midiout
