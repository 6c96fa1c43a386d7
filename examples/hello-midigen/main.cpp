// Plays a short woodblock tune with the tone generator and quits when it has ended.

#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv); // the tone generator's notifications are events
    TMidiGen generator;
    if (!generator.PlayString("I115,C5;20,50;D5,50;E5")) {
        std::fputs("hello-midigen: nothing could be played\n", stderr);
        return 1;
    }
    while (generator.IsPlaying())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return 0;
}
