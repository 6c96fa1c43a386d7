// A program that plays at once: it creates its tone generator and makes its first request at
// once, as a program that plays a tune when it starts does, on the public API alone. It prints
// the CLOCK_MONOTONIC time of the request and of IsPlayingChanged(false), then quits.
// Usage: first_request PLAYSTRING [DURATION]

#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <cstdio>
#include <ctime>

namespace
{

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    TMidiGen generator;
    if (argc > 2)
        generator.setDuration(QByteArray(argv[2]).toUInt());
    QObject::connect(&generator, &TMidiGen::IsPlayingChanged, &app, [](bool playing) {
        if (!playing) {
            std::printf("ended %.6f\n", now());
            QCoreApplication::quit();
        }
    });
    const double request = now();
    const bool started = generator.PlayString(argv[1]);
    std::printf("request %.6f\nstarted %d\n", request, started);
    if (!started) {
        std::printf("refused %s\n", qPrintable(generator.LastError()));
        return 1;
    }
    return app.exec();
}
