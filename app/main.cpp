// Noggix: pretends to back up the user's brain.

#include "AppSetup.h"
#include "MainWindow.h"

#include <midiout/Output.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace
{

// Starts the synthesizer once the window's first paint has been handled: it loads its
// SoundFont on a thread of its own, which would otherwise compete for the cores with the window
// coming up. It is ready long before the first jingle.
class SynthAfterFirstPaint : public QObject
{
public:
    explicit SynthAfterFirstPaint(QWidget *window) : QObject(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, [] { midiout::StartBuiltinSynth(); });
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    noggix::SetUpApplication(app);
    const auto frmMain = noggix::CreateApplicationWindows();
    new SynthAfterFirstPaint(frmMain.get());
    frmMain->show();
    return QApplication::exec();
}
