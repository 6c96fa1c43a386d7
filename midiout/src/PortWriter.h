#pragma once

// The real-time side of a stream on a graph port: once per graph cycle it follows the latest play
// state and writes every stream event due in the cycle at its exact frame, counted from the frame
// at which the stream was restarted, with no rounding to the cycle. A stop, a reset, a new stream
// and the end of a stream send the port the reset of all 16 channels first; unless a stream
// plays on, the next cycle sends it again. Only the graph's data thread touches it: no lock, no
// allocation, no Qt call, no blocking call.

#include "EngineCrossing.h"
#include "StreamPlayer.h"

#include "MidiMessages_p.h"

#include <midiout/MidiMessages.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace midiout
{

class PortWriter
{
public:
    explicit PortWriter(EngineCrossing &crossing) : crossing_(crossing) {}

    // Writes the cycle of `frames` frames from graph frame `start` at `rate` frames a second:
    // write(offset, bytes, length) takes each MIDI message, offset from the cycle's first frame.
    template <typename Write>
    void cycle(std::uint64_t start, std::uint32_t frames, double rate, Write write)
    {
        player_.setRate(rate);
        // A stop, a reset, or the end of a stream that played: what it started must not go on
        // sounding. A new stream alone sends nothing: what came before it was reset as it ended.
        const PlayState before = player_.seen();
        player_.follow(crossing_.played.read(), start);
        const PlayState &now = player_.seen();
        const bool played =
            before.state == StreamState::Paused || before.state == StreamState::Running;
        const bool silence =
            now.stops != before.stops || now.resets != before.resets ||
            (played && (now.stream != before.stream || now.state == StreamState::Closing ||
                        now.state == StreamState::Closed));
        // The graph may skip the instrument in a cycle and drop what that cycle carried, and
        // nothing tells us: a reset that leaves the instrument silent goes in two cycles in a row.
        if (silence || (repeatReset_ && !player_.running()))
            writeReset(write);
        repeatReset_ = silence;
        const std::uint64_t end = start + frames;
        while (player_.running() && player_.dueFrame(player_.nextTick()) < end) {
            const auto offset =
                std::uint32_t(std::max(player_.dueFrame(player_.nextTick()), start) - start);
            player_.playNextTick(
                [&](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
                    const std::uint8_t message[3] = {status, data1, data2};
                    if (status < 0xF0) // channel messages alone
                        write(offset, message, messageLength(status));
                },
                [this](Notification notification, std::uint32_t buffer) {
                    report(notification, buffer);
                });
        }
    }
    // After the cycle's events are queued for the port: they have left.
    void finishCycle(std::uint64_t end);

    // The bytes of a channel message with this status: program change and channel pressure
    // carry one data byte, the others two.
    static std::size_t messageLength(std::uint8_t status)
    {
        const std::uint8_t kind = status & StatusKindMask;
        return kind == ProgramChangeStatus || kind == 0xD0 ? 2 : 3;
    }

private:
    // On every channel: sustain released, all notes off, all sound off, controllers reset.
    template <typename Write> void writeReset(Write write)
    {
        constexpr std::uint8_t Controllers[] = {controller::Sustain, controller::AllNotesOff,
                                                controller::AllSoundOff,
                                                controller::ResetAllControllers};
        for (std::uint8_t channel = 0; channel < ChannelCount; ++channel)
            for (const std::uint8_t controller : Controllers) {
                const std::uint8_t message[3] = {StatusByte(ControlChangeStatus, channel),
                                                 controller, 0};
                write(0, message, 3);
            }
    }
    void report(Notification notification, std::uint32_t buffer);

    EngineCrossing &crossing_;
    StreamPlayer player_;
    bool wakeControl_ = false;
    bool repeatReset_ = false; // the last cycle sent a reset: the next one sends it again
};

} // namespace midiout
