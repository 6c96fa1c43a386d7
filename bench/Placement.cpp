#include "Placement.h"

#include "OfflineRender.h"
#include "SinkLevels.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace bench
{

namespace
{

constexpr int Rate = MonitorRecorder::Rate;
// The woodblock: C5 at 0, D5 at 0.5 s, E5 at 1.0 s, C5 at 1.37 s, G5 at 2.37 s, each 20 ticks of
// 10 ms long.
const QByteArray Woodblock = QByteArrayLiteral("I115,C5;20,50;D5,50;E5,37;C5,100;G5");
constexpr int WoodblockTicks[] = {0, 50, 100, 137, 237};
constexpr int WoodblockKeys[] = {72, 74, 76, 72, 79};
// The SoundFont that the built-in synthesizer takes first.
const char *const SoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

// Attacks in interleaved stereo samples: where the level rises above a tenth of the peak after
// 0.1 s at or below it, placed at the first frame above a fiftieth of the peak in the 10 ms before.
std::vector<double> onsets(const std::vector<std::int16_t> &samples)
{
    const auto level = [&](std::size_t f) {
        return std::max(std::abs(int(samples[2 * f])), std::abs(int(samples[2 * f + 1])));
    };
    const std::size_t frames = samples.size() / 2;
    int peak = 0;
    for (std::size_t f = 0; f < frames; ++f)
        peak = std::max(peak, level(f));
    std::vector<double> result;
    std::size_t quiet = Rate;
    for (std::size_t f = 0; f < frames; ++f) {
        if (level(f) <= peak / 10) {
            ++quiet;
            continue;
        }
        if (quiet >= Rate / 10) {
            std::size_t first = f - std::min<std::size_t>(f, 441);
            while (first < f && level(first) <= peak / 50)
                ++first;
            result.push_back(double(first));
        }
        quiet = 0;
    }
    return result;
}

// Interleaved 16-bit samples of a raw file.
std::vector<std::int16_t> samplesOfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// A Standard MIDI File (format 0, 50 ticks per quarter note at the default tempo: 10 ms ticks)
// of the woodblock notes, as the anchor's input.
QByteArray woodblockMidiFile()
{
    QByteArray track;
    const auto delta = [&track](std::uint32_t ticks) {
        QByteArray bytes(1, char(ticks & 0x7F));
        while ((ticks >>= 7) != 0)
            bytes.prepend(char(0x80 | (ticks & 0x7F)));
        track += bytes;
    };
    const auto event = [&](std::uint32_t ticks, int a, int b, int c) {
        delta(ticks);
        track += char(a);
        track += char(b);
        if (c >= 0)
            track += char(c);
    };
    event(0, 0xC0, 115, -1);
    // FluidSynth's player sounds the first note of a file a few milliseconds later on its grid
    // than the others: the notes start after a second of silence.
    int now = -100;
    for (int i = 0; i < 5; ++i) {
        event(std::uint32_t(WoodblockTicks[i] - now), 0x90, WoodblockKeys[i], 100);
        event(20, 0x80, WoodblockKeys[i], 0);
        now = WoodblockTicks[i] + 20;
    }
    event(200, 0xB0, 7, 100); // keeps the file running past the last note's tail
    track += QByteArray("\x00\xFF\x2F\x00", 4);
    QByteArray file("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x32", 14);
    file += "MTrk";
    const std::uint32_t size = std::uint32_t(track.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        file += char(size >> shift & 0xFF);
    return file + track;
}

// Onsets of the woodblock in FluidSynth's own rendering of the MIDI file, in frames.
std::vector<double> anchorOnsets()
{
    QTemporaryDir dir;
    QFile mid(dir.filePath(QStringLiteral("woodblock.mid")));
    if (!mid.open(QIODevice::WriteOnly) || mid.write(woodblockMidiFile()) < 0)
        return {};
    mid.close();
    const QString raw = dir.filePath(QStringLiteral("woodblock.raw"));
    QProcess fluid;
    fluid.start(QStringLiteral("fluidsynth"),
                {QStringLiteral("-ni"), QStringLiteral("-q"), QStringLiteral("-r"),
                 QStringLiteral("44100"), QStringLiteral("-T"), QStringLiteral("raw"),
                 QStringLiteral("-O"), QStringLiteral("s16"), QStringLiteral("-F"), raw,
                 QFileInfo(QString::fromLatin1(SoundFont)).canonicalFilePath(), mid.fileName()});
    if (!fluid.waitForFinished(60000))
        return {};
    return onsets(samplesOfFile(raw));
}

// How far each onset of `a` lies from the same note of `b`, in frames, once the two are lined
// up by their median distance (each renderer starts its clock at a moment of its own); prints
// them and the largest.
void printPlacement(const char *key, const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != 5 || b.size() != 5) {
        std::printf("%s-frames n/a\n", key);
        return;
    }
    std::vector<double> distance;
    for (std::size_t i = 0; i < 5; ++i)
        distance.push_back(a[i] - b[i]);
    std::vector<double> sorted = distance;
    std::sort(sorted.begin(), sorted.end());
    double worst = 0;
    std::printf("%s-notes", key);
    for (const double d : distance) {
        std::printf(" %.0f", d - sorted[2]);
        worst = std::max(worst, std::abs(d - sorted[2]));
    }
    std::printf("\n%s-frames %.0f\n", key, worst);
}

} // namespace

void measurePlacement(SoundBench &bench)
{
    bench.generator.setVolume(100);
    bench.generator.setSustain(false);
    bench.generator.setModulation(0);
    bench.generator.setDuration(20);
    bench.recorder.start();
    bench.awake();
    const double request = MonitorRecorder::now();
    bench.generator.PlayString(Woodblock);
    bench.waitEnd(10000);
    pumpFor(500);
    bench.recorder.stop();
    const std::size_t from = bench.recorder.frameAt(request);
    const auto sink = onsets(samplesOf(bench.recorder, from, from + 4 * Rate));
    const auto offline = onsets(renderOffline(Woodblock, {QStringLiteral("Duration=20")}));
    const auto anchor = anchorOnsets();
    for (const auto *list : {&sink, &offline, &anchor}) {
        for (const double at : *list)
            std::fprintf(stderr, " %.1f", at * 1000.0 / Rate);
        std::fprintf(stderr, " ms\n");
    }
    printPlacement("placement-offline", offline, anchor);
    printPlacement("placement-sink", sink, anchor);
}

} // namespace bench
