// The built-in synthesizer measured from outside, through a private PulseAudio server with a
// null sink whose monitor is recorded: first sound, note placement against FluidSynth's own file
// renderer, survival of sound server restarts, and glitches at jingle
// starts. Prints "key value" lines for scripts/bench.

#include "BackupRunSettings.h"
#include "EngineOutput.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"

#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

using bench::MonitorRecorder;
constexpr int Rate = MonitorRecorder::Rate;
// The woodblock of the placement figure: C5 at 0, D5 at 0.5 s, E5 at 1.0 s, C5 at 1.37 s, G5 at
// 2.37 s, each 20 ticks of 10 ms long.
const QByteArray Woodblock = QByteArrayLiteral("I115,C5;20,50;D5,50;E5,37;C5,100;G5");
constexpr int WoodblockTicks[] = {0, 50, 100, 137, 237};
constexpr int WoodblockKeys[] = {72, 74, 76, 72, 79};

void pumpFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

bool pumpUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

void printStats(const char *key, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        std::printf("%s-median n/a\n", key);
        return;
    }
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%s-median %.2f\n%s-min %.2f\n%s-max %.2f\n%s-count %zu\n", key, median, key,
                values.front(), key, values.back(), key, n);
}

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

std::vector<std::int16_t> recorded(const MonitorRecorder &recorder, std::size_t from,
                                   std::size_t to)
{
    std::vector<std::int16_t> out;
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f) {
        out.push_back(recorder.sample(f, 0));
        out.push_back(recorder.sample(f, 1));
    }
    return out;
}

// First frame from `from` with a sample that is not zero; `to` when there is none.
std::size_t firstSound(const MonitorRecorder &recorder, std::size_t from, std::size_t to)
{
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f)
        if (recorder.sample(f, 0) != 0 || recorder.sample(f, 1) != 0)
            return f;
    return to;
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
    int now = 0;
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
std::vector<double> anchorOnsets(const QString &soundFont)
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
                 QStringLiteral("-O"), QStringLiteral("s16"), QStringLiteral("-F"), raw, soundFont,
                 mid.fileName()});
    if (!fluid.waitForFinished(60000))
        return {};
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return onsets(samples);
}

// Onsets of the woodblock play string rendered offline by our engine.
std::vector<double> offlineOnsets()
{
    midiout::OfflineOutput output;
    TMidiGen generator(output);
    if (!generator.PlayString(Woodblock))
        return {};
    std::vector<std::int16_t> audio;
    while (generator.IsPlaying() || audio.size() < 2 * 3 * std::size_t(Rate)) {
        const auto part = output.render(64);
        audio.insert(audio.end(), part.begin(), part.end());
        QCoreApplication::processEvents();
    }
    return onsets(audio);
}

// Largest distance, in frames, between the onsets of `a` and `b`, each counted from its first.
double placementError(const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != 5 || b.size() != 5)
        return -1;
    double worst = 0;
    for (int i = 1; i < 5; ++i)
        worst = std::max(worst, std::abs((a[i] - a[0]) - (b[i] - b[0])));
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testsupport::PrivateSoundServer server;
    if (!server.start()) {
        std::fprintf(stderr, "bench_audio: no PulseAudio server could be started\n");
        return 1;
    }
    midiout::EngineConfig config;
    config.audioDrivers = {QStringLiteral("pulseaudio")};
    // The built-in synthesizer's settings, but its driver stops after 0.3 s without a stream
    // instead of 2 s, so that each request below starts it afresh as a backup run's tick does.
    config.idleAudioMs = 300;
    testsupport::EngineOutput output(config);
    auto generator = std::make_unique<TMidiGen>(output);
    std::printf("period-frames %d\nperiods %d\n", config.periodSize, config.periods);

    MonitorRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "bench_audio: cannot record the null sink's monitor\n");
        return 1;
    }
    const auto idle = [&] { return pumpUntil([&] { return !output.engine.audioRunning(); }, 5000); };

    // First sound: from the request to the first sample that is not zero at the sink, each
    // request starting the audio driver afresh. Glitches: the first 0.9 s of each jingle must
    // hold no run of 32 or more zero frames (the jingle's first note sounds throughout).
    testsupport::configureForBackupRun(*generator);
    std::vector<double> requests;
    for (int i = 0; i < 32; ++i) {
        idle();
        requests.push_back(MonitorRecorder::now());
        if (!generator->PlayString(testsupport::Jingle))
            requests.back() = -1;
        pumpFor(1000);
        generator->Stop();
        pumpUntil([&] { return !generator->IsPlaying(); }, 2000);
    }
    pumpFor(300);
    recorder.stop();
    std::vector<double> firstSounds;
    int glitches = 0, silent = 0;
    for (double request : requests) {
        if (request < 0) {
            ++silent;
            continue;
        }
        const std::size_t from = recorder.frameAt(request);
        const std::size_t sound = firstSound(recorder, from, from + Rate);
        if (sound >= from + Rate) {
            ++silent;
            continue;
        }
        firstSounds.push_back((recorder.timeOf(sound) - request) * 1000.0);
        std::size_t zeros = 0;
        for (std::size_t f = sound; f < sound + std::size_t(0.9 * Rate); ++f) {
            zeros = recorder.sample(f, 0) == 0 && recorder.sample(f, 1) == 0 ? zeros + 1 : 0;
            if (zeros == 32) {
                ++glitches;
                break;
            }
        }
    }
    printStats("first-sound-ms", firstSounds);
    double readMedian = 0, readMax = 0;
    recorder.readDelays(readMedian, readMax);
    std::printf("record-latency-ms %.2f\nrecord-read-delay-median-ms %.2f\n"
                "record-read-delay-max-ms %.2f\n",
                recorder.reportedLatencyMs(), readMedian, readMax);
    std::printf("jingles %zu\nglitches %d\nsilent-jingles %d\n", requests.size(), glitches, silent);

    // Placement: the woodblock through the sink, offline, and in FluidSynth's file renderer.
    generator->setSustain(false);
    generator->setModulation(0);
    generator->setDuration(20);
    idle();
    recorder.start();
    pumpFor(200);
    const double request = MonitorRecorder::now();
    generator->PlayString(Woodblock);
    pumpUntil([&] { return !generator->IsPlaying(); }, 10000);
    pumpFor(500);
    recorder.stop();
    const std::size_t from = recorder.frameAt(request);
    const auto sink = onsets(recorded(recorder, from, from + 4 * Rate));
    const auto offline = offlineOnsets();
    const auto anchor = anchorOnsets(output.engine.soundFontPath());
    std::printf("placement-offline-frames %.0f\nplacement-sink-frames %.0f\nanchor-notes %zu\n",
                placementError(offline, anchor), placementError(sink, anchor), anchor.size());

    // Survival: the server killed 0.8 s into a jingle and started again 1.5 s later, five times.
    int survived = 0, refusedWhileDown = 0, endedWhenKilled = 0;
    for (int round = 0; round < 5; ++round) {
        idle();
        generator->PlayString(testsupport::Jingle);
        pumpFor(800);
        server.kill();
        endedWhenKilled += pumpUntil([&] { return !generator->IsPlaying(); }, 1500) ? 1 : 0;
        refusedWhileDown += generator->PlayString(testsupport::Jingle) ? 0 : 1;
        pumpFor(200);
        if (!server.start() || !recorder.start())
            break;
        pumpFor(200);
        const double again = MonitorRecorder::now();
        const bool started = generator->PlayString(testsupport::Jingle);
        pumpFor(600);
        generator->Stop();
        pumpUntil([&] { return !generator->IsPlaying(); }, 2000);
        recorder.stop();
        const std::size_t at = recorder.frameAt(again);
        survived += started && firstSound(recorder, at, at + Rate / 2) < at + Rate / 2 ? 1 : 0;
    }
    std::printf("server-kills 5\nended-when-killed %d\nrefused-while-down %d\n"
                "sounded-after-restart %d\n",
                endedWhenKilled, refusedWhileDown, survived);
    generator.reset();
    output.engine.stopAudio();
    return 0;
}
