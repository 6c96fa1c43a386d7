// Noggix: pretends to back up the user's brain.

#include "AppSetup.h"
#include "BuiltinSynth.h"
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The synthesizer loads its SoundFont meanwhile, so that the first jingle is not late.
    midiout::startBuiltinSynth();
    QApplication app(argc, argv);
    noggix::SetUpApplication(app);
    const auto frmMain = noggix::CreateApplicationWindows();
    frmMain->show();
    return QApplication::exec();
}
