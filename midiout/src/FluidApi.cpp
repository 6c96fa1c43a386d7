#include "FluidApi.h"

namespace midiout
{

// MIDIOUT_FLUIDSYNTH_SONAME: the library this layer was built against, found when the project is
// configured.
MIDIOUT_DEFINE_TABLE_LOADER(FluidApi, MIDIOUT_FLUID_FUNCTIONS, MIDIOUT_FLUIDSYNTH_SONAME,
                            LoadFluidApi)

} // namespace midiout
