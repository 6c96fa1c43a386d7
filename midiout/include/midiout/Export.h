#pragma once

// The library is built with hidden symbols; what carries MIDIOUT_EXPORT is its public interface.
#define MIDIOUT_EXPORT __attribute__((visibility("default")))
