#include "PresetLoader.h"

#include "EngineCrossing.h"
#include "FluidApi.h"
#include "MidiMessages_p.h"
#include "SynthCore.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace midiout
{

namespace
{

// A load gives up (and is tried again later) when the audio thread holds the synthesizer this
// long, which only a stalled machine does.
constexpr auto LoadWait = std::chrono::milliseconds(50);

// The presets a buffer needs: the channels' initial ones, then what it selects or plays.
std::set<std::pair<int, int>> presetsOf(const std::uint8_t *data, std::size_t length)
{
    std::set<std::pair<int, int>> wanted{PresetLoader::ResetPresets.begin(),
                                         PresetLoader::ResetPresets.end()};
    int bank[ChannelCount] = {};
    bank[PercussionChannel] = PercussionBank;
    for (const StreamEvents::Entry &entry : StreamEvents(data, length)) {
        const StreamEvent &event = entry.event;
        const int channel = event.status() & StatusChannelMask;
        const int kind = event.isShortMessage() ? event.status() & StatusKindMask : 0;
        if (kind == NoteOffStatus || kind == NoteOnStatus)
            wanted.insert({bank[channel], 0});
        else if (kind == ProgramChangeStatus)
            wanted.insert({bank[channel], event.data1() & DataByteMask});
        else if (kind == ControlChangeStatus && event.data1() == controller::BankSelect &&
                 channel != PercussionChannel)
            bank[channel] = event.data2() & DataByteMask;
    }
    return wanted;
}

} // namespace

bool PresetLoader::load(const std::uint8_t *data, std::size_t length)
{
    const auto wanted = presetsOf(data, length);
    if (std::includes(pinned_.begin(), pinned_.end(), wanted.begin(), wanted.end()))
        return true;
    if (!crossing_.quiet())
        return false;
    const auto deadline = std::chrono::steady_clock::now() + LoadWait;
    while (!crossing_.synthLock.try_lock()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield(); // the audio thread leaves the synthesizer within one block
    }
    const bool quiet = crossing_.quiet(); // only the audio thread changes it, holding the lock
    if (quiet)
        for (const auto &[bank, program] : wanted)
            if (pinned_.insert({bank, program}).second) // a missing preset is not tried again
                core_.fluid().fluid_synth_pin_preset(core_.synth(), core_.soundFont(), bank,
                                                     program);
    crossing_.synthLock.unlock();
    return quiet;
}

} // namespace midiout
