#include "NotificationReceiver.h"

namespace midigen
{

NotificationReceiver::NotificationReceiver(Handler handler, QObject *parent)
    : QObject(parent), handler_(std::move(handler))
{
}

bool NotificationReceiver::event(QEvent *event)
{
    const auto *notification = midiout::NotificationEvent::from(event);
    if (notification == nullptr)
        return QObject::event(event);
    handler_(notification->notification());
    return true;
}

} // namespace midigen
