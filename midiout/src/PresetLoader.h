#pragma once

// The presets a stream buffer needs, loaded into the synthesizer before the buffer plays: a load
// reads samples from disk and holds the synthesizer meanwhile, so it runs only while nothing
// sounds, never on the audio thread. The thread that loads the synthesizer uses it first, then
// the application's thread alone.

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>

namespace midiout
{

class SynthCore;
struct EngineCrossing;

class PresetLoader
{
public:
    // Bank and program of what a reset selects on the melodic and the percussion channels.
    static constexpr std::array<std::pair<int, int>, 2> ResetPresets{{{0, 0}, {128, 0}}};

    PresetLoader(SynthCore &core, EngineCrossing &crossing) : core_(core), crossing_(crossing) {}

    // True when every preset the buffer selects or plays is loaded; false while the synthesizer
    // sounds (the caller tries again once it is quiet).
    bool load(const std::uint8_t *data, std::size_t length);

private:
    SynthCore &core_;
    EngineCrossing &crossing_;
    std::set<std::pair<int, int>> pinned_{ResetPresets.begin(), ResetPresets.end()};
};

} // namespace midiout
