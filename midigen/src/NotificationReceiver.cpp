#include "NotificationReceiver.h"

namespace midigen
{

NotificationReceiver::NotificationReceiver(Handler handler, QObject *parent)
    : QObject(parent), handler_(std::move(handler))
{
}

bool NotificationReceiver::event(QEvent *event)
{
    if (event->type() != midiout::NotificationEvent::eventType())
        return QObject::event(event);
    handler_(static_cast<midiout::NotificationEvent *>(event)->notification());
    return true;
}

} // namespace midigen
