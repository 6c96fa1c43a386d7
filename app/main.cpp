// Noggix: pretends to back up the user's brain.

#include "AppSetup.h"
#include "MainWindow.h"

#include <midiout/Output.h>

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    noggix::SetUpApplication(app);
    const auto frmMain = noggix::CreateApplicationWindows();
    frmMain->show();
    // The synthesizer loads its SoundFont on a thread of its own once the window is up, so that
    // the start-up does not share the machine with it; it is ready long before the first jingle.
    QTimer::singleShot(0, &app, [] { midiout::StartBuiltinSynth(); });
    return QApplication::exec();
}
