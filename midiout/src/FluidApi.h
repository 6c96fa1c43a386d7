#pragma once

// FluidSynth's functions as the engine calls them, bound when the first engine is built.

#include "LibraryTable.h"

#include <fluidsynth.h>

namespace midiout
{

#define MIDIOUT_FLUID_FUNCTIONS(X)                                                                 \
    X(new_fluid_settings)                                                                          \
    X(delete_fluid_settings)                                                                       \
    X(fluid_settings_setint)                                                                       \
    X(fluid_settings_setnum)                                                                       \
    X(fluid_set_log_function)                                                                      \
    X(new_fluid_synth)                                                                             \
    X(delete_fluid_synth)                                                                          \
    X(fluid_synth_sfload)                                                                          \
    X(fluid_synth_pin_preset)                                                                      \
    X(fluid_synth_write_float)                                                                     \
    X(fluid_synth_reverb_on)                                                                       \
    X(fluid_synth_chorus_on)                                                                       \
    X(fluid_synth_get_cc)                                                                          \
    X(fluid_synth_get_gen)                                                                         \
    X(fluid_synth_get_voicelist)                                                                   \
    X(fluid_voice_gen_get)                                                                         \
    X(fluid_synth_noteon)                                                                          \
    X(fluid_synth_noteoff)                                                                         \
    X(fluid_synth_cc)                                                                              \
    X(fluid_synth_program_change)                                                                  \
    X(fluid_synth_pitch_bend)                                                                      \
    X(fluid_synth_all_sounds_off)                                                                  \
    X(fluid_synth_system_reset)

struct FluidApi {
    MIDIOUT_FLUID_FUNCTIONS(MIDIOUT_TABLE_POINTER)
};

// The table, bound once per process; null with the reason when FluidSynth cannot be loaded.
const FluidApi *LoadFluidApi(QString *error);

} // namespace midiout
