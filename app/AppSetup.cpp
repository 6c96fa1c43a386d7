#include "AppSetup.h"

#include "MainWindow.h"
#include <midiout/Output.h>

#include <QApplication>
#include <QIcon>

namespace noggix
{
namespace
{

// Liberation Sans where it is installed; else the font matcher's sans serif. Asking the font
// matcher, not the font database, keeps the start-up from listing every installed font.
QFont sansSerif()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

QFont windowFont()
{
    QFont font = sansSerif();
    font.setPointSize(8);
    return font;
}

QFont dialogLabelFont()
{
    QFont font = sansSerif();
    font.setPixelSize(29);
    return font;
}

void setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(ApplicationTitle);
    QGuiApplication::setDesktopFileName(DesktopFileName);
    // The frame and the task list show the icon small; 64 pixels spare the start-up the
    // decoding and sending of a large one. The desktop's menu takes the installed sizes.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/64/org.noggix.Noggix.png")));
    app.setFont(windowFont());
}

std::unique_ptr<TfrmMain> createApplicationWindows()
{
    return createApplicationWindows(midiout::Output::system());
}

std::unique_ptr<TfrmMain> createApplicationWindows(midiout::Output &output)
{
    return std::make_unique<TfrmMain>(output);
}

} // namespace noggix
