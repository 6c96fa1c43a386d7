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
    explicit ScreenFitter(QWidget *window) : QObject(window), window_(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window_ && event->type() == QEvent::Show) {
            fit();
            // The native window exists by now; its first exposure comes once it is framed.
            if (QWindow *handle = window_->windowHandle(); handle && handle != handle_) {
                handle_ = handle;
                handle->installEventFilter(this);
            }
            framePending_ = true;
        } else if (watched == handle_ && event->type() == QEvent::Expose && framePending_) {
            framePending_ = false;
            if (frameMargins() != fittedMargins_)
                fit();
        }
        return false;
    }

private:
    QMargins frameMargins() const
    {
        const QWindow *handle = window_->windowHandle();
        return handle ? handle->frameMargins() : QMargins();
    }

    void fit()
    {
        const QScreen *screen = window_->screen();
        if (!screen)
            return;
        fittedMargins_ = frameMargins();
        // The frame's top-left corner is the window's position; its size is the client's and
        // the frame's.
        const QRect frame(window_->pos(), window_->size().grownBy(fittedMargins_));
        const QRect fitted = fitWithin(frame, screen->availableGeometry());
        if (fitted.size() != frame.size())
            window_->resize(fitted.size().shrunkBy(fittedMargins_));
        if (fitted.topLeft() != frame.topLeft())
            window_->move(fitted.topLeft());
    }

    QWidget *window_;
    QWindow *handle_ = nullptr;
    QMargins fittedMargins_;
    bool framePending_ = false;
};

} // namespace

QRect fitWithin(const QRect &frame, const QRect &area)
{
    QRect fitted(frame.topLeft(), frame.size().boundedTo(area.size()));
    fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.right() + 1 - fitted.width()));
    fitted.moveTop(std::clamp(fitted.top(), area.top(), area.bottom() + 1 - fitted.height()));
    return fitted;
}

void keepWithinScreen(QWidget *window)
{
    new ScreenFitter(window);
}

} // namespace noggix
