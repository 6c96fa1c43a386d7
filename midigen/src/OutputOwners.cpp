#include "OutputOwners.h"

#include <map>
#include <mutex>

namespace midigen
{

namespace
{

std::mutex ownersMutex;
// The owner's instance number of each owned output. Never destroyed: a static component may be
// destroyed after every other static object.
std::map<const midiout::Output *, quint32> &owners()
{
    static auto *map = new std::map<const midiout::Output *, quint32>;
    return *map;
}

} // namespace

bool mayPlayOn(const midiout::Output &output, quint32 instance)
{
    const std::lock_guard lock(ownersMutex);
    const auto found = owners().find(&output);
    return found == owners().end() || found->second == instance;
}

void takeOutput(const midiout::Output &output, quint32 instance)
{
    const std::lock_guard lock(ownersMutex);
    owners()[&output] = instance;
}

void releaseOutputs(quint32 instance)
{
    const std::lock_guard lock(ownersMutex);
    std::erase_if(owners(), [instance](const auto &owned) { return owned.second == instance; });
}

} // namespace midigen
