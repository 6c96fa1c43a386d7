#include "FailureReport.h"

#include "AppSetup.h"
#include "Failure.h"

#include <QMessageBox>

namespace noggix
{

QString FailureReportText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowFailureReport(QWidget *parent, const QString &message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, FailureReportText(message),
                    QMessageBox::Ok, parent);
    box.exec();
}

QString MessageOf(const std::exception &e)
{
    if (const auto *failure = dynamic_cast<const Failure *>(&e))
        return failure->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace noggix
