// The directory of the graph's MIDI input ports, kept from the registry's events on the loop's
// thread and read by the application's thread.

#include "MidiGraph.h"

#include <spa/utils/dict.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace midiout
{

namespace
{

QString property(const spa_dict *props, const char *key)
{
    const char *value = spa_dict_lookup(props, key);
    return value != nullptr ? QString::fromUtf8(value) : QString();
}

} // namespace

std::vector<MidiGraph::Port> MidiGraph::ports()
{
    std::unique_lock lock(directory_.mutex);
    if (!asked_) {
        asked_ = true;
        directory_.answered.wait_for(lock, std::chrono::milliseconds(FirstAnswerMs),
                                     [this] { return directory_.firstAnswer; });
    }
    std::vector<Port> ports = directory_.ports;
    for (Port &port : ports) {
        const auto node = directory_.nodes.find(port.node);
        const QString nodeName = node != directory_.nodes.end() && !node->second.first.isEmpty()
                                     ? node->second.first
                                     : QStringLiteral("node.id.%1").arg(port.node);
        port.name = nodeName + QLatin1Char(':') + port.name;
        if (node != directory_.nodes.end())
            port.description = node->second.second;
    }
    return ports;
}

bool MidiGraph::listed(const Port &port)
{
    const std::lock_guard lock(directory_.mutex);
    for (const Port &candidate : directory_.ports)
        if (candidate.id == port.id && candidate.node == port.node)
            return true;
    return false;
}

void MidiGraph::coreDone(void *graph, std::uint32_t id, int seq)
{
    auto *self = static_cast<MidiGraph *>(graph);
    if (id != PW_ID_CORE || seq != self->firstSync_)
        return;
    const std::lock_guard lock(self->directory_.mutex);
    self->directory_.firstAnswer = true;
    self->directory_.answered.notify_all();
}

void MidiGraph::registryGlobal(void *graph, std::uint32_t id, std::uint32_t, const char *type,
                               std::uint32_t, const spa_dict *props)
{
    auto *self = static_cast<MidiGraph *>(graph);
    if (props == nullptr)
        return;
    const std::lock_guard lock(self->directory_.mutex);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        QString description = property(props, PW_KEY_NODE_DESCRIPTION);
        if (description.isEmpty())
            description = property(props, PW_KEY_NODE_NICK);
        self->directory_.nodes[id] = {property(props, PW_KEY_NODE_NAME), description};
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        // A MIDI input: the graph's raw MIDI format, on a port that takes it in.
        const char *direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
        const char *format = spa_dict_lookup(props, PW_KEY_FORMAT_DSP);
        const char *node = spa_dict_lookup(props, PW_KEY_NODE_ID);
        if (direction == nullptr || std::strcmp(direction, "in") != 0 || format == nullptr ||
            std::strstr(format, "raw midi") == nullptr || node == nullptr)
            return;
        QString name = property(props, PW_KEY_PORT_NAME);
        if (name.isEmpty())
            name = QStringLiteral("port.id.%1").arg(id);
        self->directory_.ports.push_back(
            {std::uint32_t(std::strtoul(node, nullptr, 10)), id, name, {}});
    }
}

void MidiGraph::registryGlobalRemove(void *graph, std::uint32_t id)
{
    auto *self = static_cast<MidiGraph *>(graph);
    {
        const std::lock_guard lock(self->directory_.mutex);
        self->directory_.nodes.erase(id);
        std::erase_if(self->directory_.ports,
                      [id](const Port &port) { return port.id == id || port.node == id; });
    }
    // An instrument that quits ends the stream on it, as a lost sound server does.
    if (self->link_ != nullptr && (id == self->target_.id || id == self->target_.node)) {
        self->setReadiness(Readiness::Unavailable);
        if (!self->streamOpen_)
            self->dropLink();
    }
}

} // namespace midiout
