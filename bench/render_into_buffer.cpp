// Renders a play string read from standard input through the offline output into one buffer
// of the caller's, as the render tool does (a block at a time, the notifications delivered
// between blocks, then the tail until half a second below -60 dB), and writes the 16-bit
// samples to the file named by the argument in pieces of 1 MiB, without a header. Timed from
// outside, it is the render path of the library alone, end to end.
// Usage: render_into_buffer OUTPUT <tune.txt

#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_into_buffer OUTPUT <tune.txt\n");
        return 2;
    }
    QFile input, output(QString::fromLocal8Bit(argv[1]));
    if (!input.open(stdin, QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "render_into_buffer: cannot open the input or %s\n", argv[1]);
        return 1;
    }
    const QByteArray tune = input.readAll().trimmed();
    midiout::OfflineOutput synthesizer;
    TMidiGen generator(synthesizer);
    if (!generator.PlayString(tune)) {
        std::fprintf(stderr, "render_into_buffer: the tune does not play\n");
        return 1;
    }
    constexpr std::size_t BlockFrames = 64, PieceFrames = (1 << 20) / 4;
    constexpr std::size_t SilentToEnd = midiout::OfflineOutput::SampleRate / 2;
    std::vector<std::int16_t> piece(2 * PieceFrames);
    std::size_t used = 0, silent = 0;
    while (generator.IsPlaying() || silent < SilentToEnd) {
        std::int16_t *block = piece.data() + 2 * used;
        synthesizer.render(block, BlockFrames);
        used += BlockFrames;
        QCoreApplication::processEvents();
        if (!generator.IsPlaying()) {
            const bool quiet = std::all_of(block, block + 2 * BlockFrames,
                                           [](std::int16_t s) { return std::abs(s) < 33; });
            silent = quiet ? silent + BlockFrames : 0;
        }
        if (used == PieceFrames || silent >= SilentToEnd) {
            const auto bytes = qint64(4 * used);
            if (output.write(reinterpret_cast<const char *>(piece.data()), bytes) != bytes) {
                std::fprintf(stderr, "render_into_buffer: cannot write %s\n", argv[1]);
                return 1;
            }
            used = 0;
        }
    }
    return 0;
}
