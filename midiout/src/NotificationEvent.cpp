#include <midiout/Output.h>

namespace midiout
{

NotificationEvent::NotificationEvent(Notification notification)
    : QEvent(eventType()), notification_(notification)
{
}

QEvent::Type NotificationEvent::eventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

const NotificationEvent *NotificationEvent::from(const QEvent *event)
{
    return event->type() == eventType() ? static_cast<const NotificationEvent *>(event) : nullptr;
}

} // namespace midiout
