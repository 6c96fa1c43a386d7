#include "FailureReport.h"

#include "AppSetup.h"
#include "Failure.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QWidget>

namespace noggix
{

QString failureReportText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString breakLongWords(const QString &text, const QFont &font, int width)
{
    // Laid out as a label lays it out, but breaking anywhere where a line holds no place to
    // break; a line break goes in only where the label would find none.
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    QString broken;
    qsizetype copied = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const qsizetype end = line.textStart() + line.textLength();
        if (end >= text.size() || text[end - 1] == u'\n')
            continue;
        breaks.setPosition(end);
        if (breaks.isAtBoundary())
            continue;
        broken += QStringView(text).sliced(copied, end - copied);
        broken += u'\n';
        copied = end;
    }
    layout.endLayout();
    return broken += QStringView(text).sliced(copied);
}

void showFailureReport(QWidget *parent, const QString &message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, QString(), QMessageBox::Ok, parent);
    // The box grows to half the screen's width at most (and 500 pixels), its icon and margins
    // included; a word that does not fit is broken, since the box itself would cut it.
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int boxWidth = screen ? qMin(screen->availableGeometry().width() / 2, 500) : 500;
    box.setText(breakLongWords(failureReportText(message), box.font(), qMax(boxWidth - 100, 100)));
    box.exec();
}

QString messageOf(const std::exception &e)
{
    if (const auto *failure = dynamic_cast<const Failure *>(&e))
        return failure->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace noggix
