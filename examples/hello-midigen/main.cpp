// Plays a short woodblock tune with the tone generator and quits when it has ended.

#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv); // the tone generator's notifications are events
    TMidiGen generator;
    if (!generator.PlayString("I115,C5;20,50;D5,50;E5")) {
        std::fprintf(stderr, "hello-midigen: nothing played: %s\n",
                     qPrintable(generator.LastError()));
        return 1;
    }
    // The stream has opened; the application ends when it closes.
    QObject::connect(&generator, &TMidiGen::IsPlayingChanged, &application, [](bool playing) {
        if (!playing)
            QCoreApplication::quit();
    });
    return application.exec();
}
