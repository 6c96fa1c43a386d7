#pragma once

// The tone generator's notification receiver: a hidden QObject that receives the notifications
// its stream posts and hands each to the component's handler on the component's thread.

#include <midiout/Output.h>

#include <QObject>

#include <functional>

namespace midigen
{

class NotificationReceiver : public QObject
{
public:
    using Handler = std::function<void(midiout::Notification)>;

    // handler is called for every notification event; every other event goes to QObject.
    NotificationReceiver(Handler handler, QObject *parent);

protected:
    bool event(QEvent *event) override;

private:
    Handler handler_;
};

} // namespace midigen
