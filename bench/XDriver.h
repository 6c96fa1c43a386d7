#pragma once

// Drives programs on the X display from outside, as a user does: finds top-level windows by
// title and clicks in them through the XTest extension.

#include <QByteArray>

struct _XDisplay; // Xlib's Display, whose header clashes with Qt's

namespace bench
{

class XDriver
{
public:
    using Window = unsigned long; // an X window id; 0 for none

    XDriver();
    ~XDriver();
    XDriver(const XDriver &) = delete;
    XDriver &operator=(const XDriver &) = delete;

    // False when there is no display or it lacks XTest.
    bool ok() const { return display_ != nullptr && xtest_; }
    // The viewable top-level window whose title is exactly `title`, waiting up to ms for it;
    // 0 when there is none by then.
    Window waitForWindow(const QByteArray &title, int ms);
    // Moves the pointer to (x, y) in window and waits until the server has handled it.
    void moveTo(Window window, int x, int y);
    // Presses and releases the first button where the pointer is; returns once the server has
    // the events.
    void click();

private:
    QByteArray titleOf(Window window);

    _XDisplay *display_;
    bool xtest_ = false;
};

} // namespace bench
