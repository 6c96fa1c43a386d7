#include "ProgressBar.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

namespace noggix
{

void ProgressBar::paintEvent(QPaintEvent *event)
{
    if (minimum() != maximum()) {
        QProgressBar::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.minimum = 0;
    option.maximum = 1;
    option.progress = 0;
    painter.drawControl(QStyle::CE_ProgressBar, option);
}

} // namespace noggix
