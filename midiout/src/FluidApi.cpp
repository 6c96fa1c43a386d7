#include "FluidApi.h"

#include <dlfcn.h>

namespace midiout
{

namespace
{

// The library this layer was built against (its SONAME, found when the project is configured).
const char *const FluidLibrary = MIDIOUT_FLUIDSYNTH_SONAME;

// Loads the library, kept for the life of the process (the engine that uses it is never
// unloaded), and binds every function of the table; empty, or why that failed.
QString Bind(FluidApi &api)
{
    void *library = ::dlopen(FluidLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return QString::fromLocal8Bit(::dlerror());
#define MIDIOUT_FLUID_BIND(name)                                                                   \
    api.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));                       \
    if (api.name == nullptr)                                                                       \
        return QStringLiteral("%1 has no %2")                                                      \
            .arg(QLatin1String(FluidLibrary), QLatin1String(#name));
    MIDIOUT_FLUID_FUNCTIONS(MIDIOUT_FLUID_BIND)
#undef MIDIOUT_FLUID_BIND
    return {};
}

} // namespace

const FluidApi *LoadFluidApi(QString *error)
{
    static FluidApi api;
    static const QString failure = Bind(api); // once per process; C++ makes it thread-safe
    if (!failure.isEmpty() && error != nullptr)
        *error = failure;
    return failure.isEmpty() ? &api : nullptr;
}

} // namespace midiout
