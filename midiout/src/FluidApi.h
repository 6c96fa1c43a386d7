#pragma once

// FluidSynth's functions as the engine calls them: bound when the first engine is built, not when
// the process starts, so that the library and the forty libraries it pulls in load on the
// synthesizer's start-up thread instead of delaying the program's first window.

#include <fluidsynth.h>

#include <QString>

namespace midiout
{

// Every FluidSynth function the engine calls.
#define MIDIOUT_FLUID_FUNCTIONS(X)                                                                 \
    X(new_fluid_settings)                                                                          \
    X(delete_fluid_settings)                                                                       \
    X(fluid_settings_setint)                                                                       \
    X(fluid_settings_setnum)                                                                       \
    X(fluid_settings_setstr)                                                                       \
    X(fluid_set_log_function)                                                                      \
    X(new_fluid_synth)                                                                             \
    X(delete_fluid_synth)                                                                          \
    X(fluid_synth_sfload)                                                                          \
    X(fluid_synth_pin_preset)                                                                      \
    X(fluid_synth_process)                                                                         \
    X(fluid_synth_noteon)                                                                          \
    X(fluid_synth_noteoff)                                                                         \
    X(fluid_synth_cc)                                                                              \
    X(fluid_synth_program_change)                                                                  \
    X(fluid_synth_pitch_bend)                                                                      \
    X(fluid_synth_all_sounds_off)                                                                  \
    X(fluid_synth_system_reset)                                                                    \
    X(fluid_synth_get_cc)                                                                          \
    X(fluid_synth_get_pitch_bend)                                                                  \
    X(fluid_synth_get_active_voice_count)                                                          \
    X(new_fluid_audio_driver2)                                                                     \
    X(delete_fluid_audio_driver)

// One pointer per function, named as the function.
struct FluidApi {
#define MIDIOUT_FLUID_POINTER(name) decltype(&::name) name = nullptr;
    MIDIOUT_FLUID_FUNCTIONS(MIDIOUT_FLUID_POINTER)
#undef MIDIOUT_FLUID_POINTER
};

// Loads the library once per process and binds every function; later calls return the same
// table. Null when the library or one of the functions is missing, with the reason in *error.
// Thread-safe.
const FluidApi *LoadFluidApi(QString *error);

} // namespace midiout
