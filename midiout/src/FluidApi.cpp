#include "FluidApi.h"

#include <dlfcn.h>

#include <mutex>

namespace midiout
{

namespace
{

// The library this layer was built against (its SONAME, found when the project is configured).
const char *const FluidLibrary = MIDIOUT_FLUIDSYNTH_SONAME;

struct Binding {
    FluidApi api;
    bool complete = false;
    QString error;
};

Binding Bind()
{
    Binding binding;
    // Kept loaded for the life of the process: the engine that uses it is never unloaded.
    void *library = ::dlopen(FluidLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        binding.error = QString::fromLocal8Bit(::dlerror());
        return binding;
    }
#define MIDIOUT_FLUID_BIND(name)                                                                   \
    binding.api.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));               \
    if (binding.api.name == nullptr) {                                                             \
        binding.error =                                                                            \
            QStringLiteral("%1 has no %2").arg(QLatin1String(FluidLibrary), QLatin1String(#name)); \
        return binding;                                                                            \
    }
    MIDIOUT_FLUID_FUNCTIONS(MIDIOUT_FLUID_BIND)
#undef MIDIOUT_FLUID_BIND
    binding.complete = true;
    return binding;
}

} // namespace

const FluidApi *LoadFluidApi(QString *error)
{
    static std::once_flag once;
    static Binding binding;
    std::call_once(once, [] { binding = Bind(); });
    if (!binding.complete && error != nullptr)
        *error = binding.error;
    return binding.complete ? &binding.api : nullptr;
}

} // namespace midiout
