#include "SharedRandom.h"

namespace noggix
{

quint32 RandomGenerator::draw(quint32 range)
{
    state_ = state_ * 134775813u + 1u;
    return static_cast<quint32>((quint64(state_) * quint64(range)) >> 32);
}

RandomGenerator &sharedRandom()
{
    static RandomGenerator generator;
    return generator;
}

} // namespace noggix
