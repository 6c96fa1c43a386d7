#include "AppSetup.h"

#include "MainWindow.h"
#include "StartDialog.h"
#include <midiout/Output.h>

#include <QApplication>
#include <QFontDatabase>
#include <QIcon>

namespace noggix
{
namespace
{

QString SansSerifFamily()
{
    static const QString liberation = QStringLiteral("Liberation Sans");
    if (QFontDatabase::hasFamily(liberation))
        return liberation;
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

} // namespace

QFont WindowFont()
{
    QFont font(SansSerifFamily());
    font.setPointSize(8);
    return font;
}

QFont DialogLabelFont()
{
    QFont font(SansSerifFamily());
    font.setPixelSize(29);
    return font;
}

void SetUpApplication(QApplication &app)
{
    QApplication::setApplicationName(ApplicationTitle);
    QGuiApplication::setDesktopFileName(DesktopFileName);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/256/org.noggix.Noggix.png")));
    app.setFont(WindowFont());
}

std::unique_ptr<TfrmMain> CreateApplicationWindows()
{
    return CreateApplicationWindows(midiout::Output::system());
}

std::unique_ptr<TfrmMain> CreateApplicationWindows(midiout::Output &output)
{
    auto frmMain = std::make_unique<TfrmMain>(output);
    frmMain->setStartDialog(new TfrmStart(frmMain.get()));
    return frmMain;
}

} // namespace noggix
