#pragma once

// The library is built with hidden symbols; what carries MIDIGEN_EXPORT is its public interface.
#define MIDIGEN_EXPORT __attribute__((visibility("default")))
