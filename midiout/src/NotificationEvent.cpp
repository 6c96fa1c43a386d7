#include <midiout/Output.h>

#include <atomic>
#include <cstdint>

namespace midiout
{

namespace
{

// Counts the events built: its release and acquire order an event's construction, on whatever
// thread, before a receiver's reads. Qt's post-event queue orders them too, but through locks
// that ThreadSanitizer does not see in a Qt that is not built with it.
std::atomic<std::uint64_t> built{0};

} // namespace

NotificationEvent::NotificationEvent(Notification notification)
    : QEvent(eventType()), notification_(notification)
{
    built.fetch_add(1, std::memory_order_release);
}

QEvent::Type NotificationEvent::eventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

const NotificationEvent *NotificationEvent::from(const QEvent *event)
{
    built.load(std::memory_order_acquire);
    return event->type() == eventType() ? static_cast<const NotificationEvent *>(event) : nullptr;
}

} // namespace midiout
