#include "SharedRandom.h"

namespace noggix
{

quint32 RandomGenerator::draw(quint32 range)
{
    m_state = m_state * 134775813u + 1u;
    return static_cast<quint32>((quint64(m_state) * quint64(range)) >> 32);
}

RandomGenerator &SharedRandom()
{
    static RandomGenerator generator;
    return generator;
}

} // namespace noggix
