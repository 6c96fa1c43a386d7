// Compiles a play string without playing it, prints its sorted event list and writes what it
// would play as a Standard MIDI File.
// Usage: tune-to-midi PLAY-STRING OUT.mid

#include <midigen/MidiGen.h>

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tune-to-midi PLAY-STRING OUT.mid\n");
        return 2;
    }
    TMidiGen generator;
    generator.setDuration(400); // notes without a length of their own last 4 s
    // What PlayString would play with these settings; nothing sounds, no event loop is needed.
    const TMGCompiledRequest tune = generator.CompileString(argv[1]);

    const QList<TMGNoteEvent> events = tune.Events();
    for (const TMGNoteEvent &event : events) {
        const char *kind = event.kind == TMGNoteEvent::mgProgramChange ? "program"
                           : event.kind == TMGNoteEvent::mgNoteOn      ? "on"
                                                                       : "off";
        std::printf("%8d %-7s %3d channel %d\n", event.time, kind, event.value, event.channel);
    }
    if (tune.Stream().isEmpty()) {
        std::fprintf(stderr, "tune-to-midi: the play string yields no event\n");
        return 1;
    }
    if (tune.NotesLeftOut() > 0 || tune.NoteEndsLost() > 0)
        std::fprintf(stderr, "tune-to-midi: the stream's limit left out %lld notes and %lld ends\n",
                     static_cast<long long>(tune.NotesLeftOut()),
                     static_cast<long long>(tune.NoteEndsLost()));

    QString whyNot;
    const QByteArray file = tune.StandardMidiFile(&whyNot);
    if (file.isEmpty()) {
        std::fprintf(stderr, "tune-to-midi: %s\n", qPrintable(whyNot));
        return 1;
    }
    QFile out(QFile::decodeName(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.flush()) {
        std::fprintf(stderr, "tune-to-midi: cannot write %s: %s\n", argv[2],
                     qPrintable(out.errorString()));
        return 1;
    }
    std::printf("%lld stream events, bend %s, %lld bytes written to %s\n",
                static_cast<long long>(tune.Stream().size() / TMGCompiledRequest::StreamEventSize),
                tune.BendAllowed() ? "allowed" : "not allowed", static_cast<long long>(file.size()),
                argv[2]);
    return 0;
}
