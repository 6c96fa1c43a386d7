#include "CaptionFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>

namespace noggix
{

int captionWidth(const QAbstractButton *button)
{
    // A check box's size hint is its indicator, the gap and the text; a push button's hint has a
    // minimum width of the style's, so it is measured from the text and the margins instead.
    if (qobject_cast<const QCheckBox *>(button) || qobject_cast<const QRadioButton *>(button))
        return button->sizeHint().width();
    const QStyle *style = button->style();
    return button->fontMetrics().horizontalAdvance(button->text()) +
           2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
}

void fitCaptions(QWidget *form)
{
    const auto buttons = form->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        if (button->window() != form)
            continue; // a dialog of its own, such as the file chooser
        for (int stretch = 99; stretch >= 80 && captionWidth(button) > button->width(); --stretch) {
            QFont font = button->font();
            font.setStretch(stretch);
            button->setFont(font);
        }
    }
}

} // namespace noggix
