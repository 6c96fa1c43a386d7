#include "XDriver.h"

#include <X11/Xlib.h>

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <thread>

namespace bench
{

XDriver::XDriver() : display_(XOpenDisplay(nullptr))
{
    int event = 0, error = 0, major = 0, minor = 0;
    xtest_ = display_ != nullptr &&
             XTestQueryExtension(display_, &event, &error, &major, &minor) == True;
}

XDriver::~XDriver()
{
    if (display_ != nullptr)
        XCloseDisplay(display_);
}

QByteArray XDriver::titleOf(Window window)
{
    // Qt names its windows in _NET_WM_NAME (UTF-8) and WM_NAME; the first one set is taken.
    for (const char *name : {"_NET_WM_NAME", "WM_NAME"}) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        const Atom property = XInternAtom(display_, name, False);
        if (XGetWindowProperty(display_, window, property, 0, 256, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success &&
            data != nullptr) {
            const QByteArray title(reinterpret_cast<const char *>(data), qsizetype(count));
            XFree(data);
            if (format == 8 && count > 0)
                return title;
        }
    }
    return {};
}

XDriver::Window XDriver::waitForWindow(const QByteArray &title, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        Window root = 0, parent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        XDriver::Window found = 0;
        if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) !=
            0) {
            for (unsigned int i = 0; i < count && found == 0; ++i) {
                XWindowAttributes attributes{};
                if (XGetWindowAttributes(display_, children[i], &attributes) != 0 &&
                    attributes.map_state == IsViewable && titleOf(children[i]) == title)
                    found = children[i];
            }
            if (children != nullptr)
                XFree(children);
        }
        if (found != 0)
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

void XDriver::moveTo(Window window, int x, int y)
{
    int rootX = 0, rootY = 0;
    Window child = None;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
    XSync(display_, False);
}

void XDriver::click()
{
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XFlush(display_);
}

} // namespace bench
