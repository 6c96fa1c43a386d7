#pragma once

// Tables of a shared library's functions, bound at run time: the library and what it pulls in
// load when the engine first needs them, not when the program starts.

#include <QString>

#include <dlfcn.h>

// One pointer per function of LIST, named as the function.
#define MIDIOUT_TABLE_POINTER(name) decltype(&::name) name = nullptr;

// Defines `const TABLE *LOADER(QString *error)`: loads SONAME once per process (kept for its
// life) and binds every function of LIST; later calls return the same table. Null when the
// library or one of its functions is missing, with the reason in *error. Thread-safe.
#define MIDIOUT_DEFINE_TABLE_LOADER(TABLE, LIST, SONAME, LOADER)                                   \
    const TABLE *LOADER(QString *error)                                                            \
    {                                                                                              \
        static TABLE table;                                                                        \
        static const QString failure = [] {                                                        \
            const char *soname = SONAME;                                                           \
            void *library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);                               \
            if (library == nullptr)                                                                \
                return QString::fromLocal8Bit(::dlerror());                                        \
            QString missing;                                                                       \
            LIST(MIDIOUT_TABLE_BIND)                                                               \
            return missing;                                                                        \
        }();                                                                                       \
        if (!failure.isEmpty() && error != nullptr)                                                \
            *error = failure;                                                                      \
        return failure.isEmpty() ? &table : nullptr;                                               \
    }

#define MIDIOUT_TABLE_BIND(name)                                                                   \
    table.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));                     \
    if (table.name == nullptr && missing.isEmpty())                                                \
        missing = QStringLiteral("%1 has no %2").arg(QLatin1String(soname), #name);
