#include "NotificationWindow.h"

namespace midigen
{

NotificationWindow::NotificationWindow(Handler handler, QObject *parent)
    : QObject(parent), handler_(std::move(handler))
{
}

bool NotificationWindow::event(QEvent *event)
{
    if (event->type() != midiout::NotificationEvent::eventType())
        return QObject::event(event);
    handler_(static_cast<midiout::NotificationEvent *>(event)->notification());
    return true;
}

} // namespace midigen
