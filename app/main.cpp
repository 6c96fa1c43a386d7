// Noggix: pretends to back up the user's brain.

#include "AppSetup.h"
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    noggix::setUpApplication(app);
    // The window's tone generator starts the synthesizer once the event loop runs.
    const auto frmMain = noggix::createApplicationWindows();
    frmMain->show();
    return QApplication::exec();
}
