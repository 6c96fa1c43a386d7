#pragma once

// The process-wide random generator whose draws decide which backup items fail.

#include <QtGlobal>

namespace noggix
{

// A 32-bit linear congruential generator. A value type, so that a copy can look ahead without
// moving the original on.
class RandomGenerator
{
public:
    explicit RandomGenerator(quint32 state = 0) : state_(state) {}

    // Moves the state on by one step (state * 134775813 + 1, modulo 2^32) and returns the upper
    // 32 bits of the 64-bit product state * range: a value from 0 to range - 1 (0 for range 0).
    quint32 draw(quint32 range);

    quint32 state() const { return state_; }

private:
    quint32 state_;
};

// The generator shared by the whole process: state 0 at start, never reseeded by the program.
// The backup run draws from it once per tick and the backup file writer once per byte.
RandomGenerator &sharedRandom();

} // namespace noggix
