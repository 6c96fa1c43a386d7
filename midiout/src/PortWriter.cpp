#include "PortWriter.h"

namespace midiout
{

void PortWriter::report(Notification notification, std::uint32_t buffer)
{
    if (!crossing_.reports.push({player_.seen().stream, buffer, notification}))
        crossing_.reportsLost.store(true); // the stream is ended rather than lose its end
    wakeControl_ = true;
}

void PortWriter::finishCycle(std::uint64_t end)
{
    // What this cycle wrote has left for the port once it is queued; a closing stream that this
    // cycle has seen has sent everything once its reset has gone twice.
    crossing_.frames.store(end, std::memory_order_release);
    const PlayState &seen = player_.seen();
    if (seen.state == StreamState::Closing && !repeatReset_ && end >= seen.wakeWhenHeard &&
        crossing_.heard.load(std::memory_order_relaxed) < seen.wakeWhenHeard) {
        crossing_.heard.store(end, std::memory_order_release);
        wakeControl_ = true;
    }
    if (wakeControl_)
        crossing_.controlWake.signal(); // non-blocking
    wakeControl_ = false;
}

} // namespace midiout
