#include "ScreenFit.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace noggix
{
namespace
{

// Watches the window's showing, and the first exposure of its native window after each
// showing, by which time the window manager has framed it; a child of the window.
class ScreenFitter : public QObject
{
public:
    explicit ScreenFitter(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            fit();
            // The native window exists by now; its first exposure comes once it is framed.
            if (QWindow *handle = m_window->windowHandle(); handle && handle != m_handle) {
                m_handle = handle;
                handle->installEventFilter(this);
            }
            m_framePending = true;
        } else if (watched == m_handle && event->type() == QEvent::Expose && m_framePending) {
            m_framePending = false;
            if (frameMargins() != m_fittedMargins)
                fit();
        }
        return false;
    }

private:
    QMargins frameMargins() const
    {
        const QWindow *handle = m_window->windowHandle();
        return handle ? handle->frameMargins() : QMargins();
    }

    void fit()
    {
        const QScreen *screen = m_window->screen();
        if (!screen)
            return;
        m_fittedMargins = frameMargins();
        // The frame's top-left corner is the window's position; its size is the client's and
        // the frame's.
        const QRect frame(m_window->pos(), m_window->size().grownBy(m_fittedMargins));
        const QRect fitted = FitWithin(frame, screen->availableGeometry());
        if (fitted.size() != frame.size())
            m_window->resize(fitted.size().shrunkBy(m_fittedMargins));
        if (fitted.topLeft() != frame.topLeft())
            m_window->move(fitted.topLeft());
    }

    QWidget *m_window;
    QWindow *m_handle = nullptr;
    QMargins m_fittedMargins;
    bool m_framePending = false;
};

} // namespace

QRect FitWithin(const QRect &frame, const QRect &area)
{
    QRect fitted(frame.topLeft(), frame.size().boundedTo(area.size()));
    fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.right() + 1 - fitted.width()));
    fitted.moveTop(std::clamp(fitted.top(), area.top(), area.bottom() + 1 - fitted.height()));
    return fitted;
}

void KeepWithinScreen(QWidget *window)
{
    new ScreenFitter(window);
}

} // namespace noggix
