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
#include <QTimer>

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace
{

using bench::MonitorRecorder;
constexpr int Rate = MonitorRecorder::Rate;
// The woodblock of the placement figure: C5 at 0, D5 at 0.5 s, E5 at 1.0 s, C5 at 1.37 s, G5 at
// 2.37 s, each 20 ticks of 10 ms long.
const QByteArray Woodblock = QByteArrayLiteral("I115,C5;20,50;D5,50;E5,37;C5,100;G5");
constexpr int WoodblockTicks[] = {0, 50, 100, 137, 237};
constexpr int WoodblockKeys[] = {72, 74, 76, 72, 79};
const QByteArray JingleStart = QByteArrayLiteral("I94,G3,90");

// Waits that sleep between events: a 5 ms timer wakes the loop to look at the condition again.
// (processEvents with a time limit would spin, and a core spinning beside the audio path was
// enough to starve it.)
bool pumpUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(5);
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// CPU time of this process so far, user and system, in seconds.
double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

// Counts the requests (times) whose first 0.9 s at the sink hold a gap: a run of 32 or more
// zero frames once the sound has risen above -50 dBFS (a burst that stops counts too). Requests
// that did not sound within 1 s count as silent. Collects the first-sound times when asked.
void analyse(const MonitorRecorder &recorder, const std::vector<double> &requests, const char *key,
             const std::vector<std::pair<double, double>> &stalls, std::vector<double> *firstSounds)
{
    int glitches = 0, silent = 0, duringStalls = 0;
    for (double request : requests) {
        const std::size_t from = recorder.frameAt(request);
        const std::size_t sound = firstSound(recorder, from, from + Rate);
        if (request < 0 || sound >= from + Rate) {
            ++silent;
            continue;
        }
        if (firstSounds != nullptr)
            firstSounds->push_back((recorder.timeOf(sound) - request) * 1000.0);
        std::size_t zeros = 0;
        bool risen = false;
        for (std::size_t f = sound; f < sound + std::size_t(0.9 * Rate); ++f) {
            const int left = recorder.sample(f, 0), right = recorder.sample(f, 1);
            risen = risen || std::max(std::abs(left), std::abs(right)) > 100;
            zeros = left == 0 && right == 0 ? zeros + 1 : 0;
            if (risen && zeros == 32) {
                // A gap that begins within 30 ms of a stall of the machine: the writer was held
                // up longer than the server's queue of about 23 ms lasts.
                const double at = recorder.timeOf(f - 31);
                const bool stalled = std::any_of(stalls.begin(), stalls.end(), [at](auto s) {
                    return s.first - 0.030 <= at && at <= s.second + 0.030;
                });
                std::fprintf(stderr, "%s: a gap %.1f ms after the first sound%s\n", key,
                             double(f - 31 - sound) * 1000.0 / Rate,
                             stalled ? ", during a stall of the machine" : "");
                ++glitches;
                duringStalls += stalled ? 1 : 0;
                break;
            }
        }
    }
    std::printf("%s-requests %zu\n%s-with-gaps %d\n%s-gaps-during-stalls %d\n%s-silent %d\n", key,
                requests.size(), key, glitches, key, duringStalls, key, silent);
}

// How late this machine wakes a thread that sleeps 5 ms at a time, while the requests below
// run: the scheduling that every audio path here rests on. Wake-ups more than StallMs late are
// kept as stalls: from when the thread was due to when it ran.
class WakeUpProbe
{
public:
    static constexpr double StallMs = 10.0;
    using Stall = std::pair<double, double>; // CLOCK_MONOTONIC seconds

    WakeUpProbe()
        : thread_([this] {
              while (!stop_.load()) {
                  const double due = MonitorRecorder::now() + 0.005;
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  const double woke = MonitorRecorder::now();
                  worst_ = std::max(worst_, (woke - due) * 1000.0);
                  if ((woke - due) * 1000.0 > StallMs)
                      stalls_.emplace_back(due, woke);
              }
          })
    {
    }
    ~WakeUpProbe() { stop(); }
    // Ends the probe and prints what it saw; stalls() may be read afterwards.
    void stop()
    {
        if (!thread_.joinable())
            return;
        stop_.store(true);
        thread_.join();
        std::printf("wake-up-late-max-ms %.2f\nwake-ups-late-over-10-ms %zu\n", worst_,
                    stalls_.size());
    }
    const std::vector<Stall> &stalls() const { return stalls_; }

private:
    std::atomic<bool> stop_{false};
    double worst_ = 0;          // probe thread only until joined
    std::vector<Stall> stalls_; // the same
    std::thread thread_;
};

// FluidSynth's audio driver with a callback of its own that writes a constant: what the sound
// server path does without our engine.
class BareDriver
{
public:
    explicit BareDriver(const midiout::EngineConfig &) : settings_(new_fluid_settings())
    {
        fluid_settings_setstr(settings_, "audio.driver", "pulseaudio");
        fluid_settings_setint(settings_, "audio.period-size", 2048);
        fluid_settings_setint(settings_, "audio.periods", 2);
        driver_ = new_fluid_audio_driver2(settings_, &BareDriver::write, nullptr);
    }
    ~BareDriver()
    {
        if (driver_ != nullptr)
            delete_fluid_audio_driver(driver_);
        delete_fluid_settings(settings_);
    }

private:
    static int write(void *, int len, int, float *[], int, float *out[])
    {
        std::fill(out[0], out[0] + len, 0.1f);
        std::fill(out[1], out[1] + len, 0.1f);
        return 0;
    }
    fluid_settings_t *settings_;
    fluid_audio_driver_t *driver_ = nullptr;
};

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

// Onsets of the woodblock play string rendered offline by our engine, in a process of its own
// (the tool beside this program), as `midigen render` renders it.
std::vector<double> offlineOnsets()
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("woodblock.wav"));
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/midigen"),
               {QStringLiteral("render"), QStringLiteral("string"), QString::fromLatin1(Woodblock),
                wav, QStringLiteral("--set"), QStringLiteral("Duration=20")});
    QFile file(wav);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll().mid(44); // the writer's 44-byte header
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return onsets(samples);
}

// How far each onset of `a` lies from the same note of `b`, in frames, once the two are lined
// up by their median distance (each renderer starts its clock at a moment of its own); prints
// them and returns the largest, or -1 when a note is missing.
double placementError(const char *key, const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != 5 || b.size() != 5) {
        std::printf("%s-frames n/a\n", key);
        return -1;
    }
    std::vector<double> distance;
    for (int i = 0; i < 5; ++i)
        distance.push_back(a[std::size_t(i)] - b[std::size_t(i)]);
    std::vector<double> sorted = distance;
    std::sort(sorted.begin(), sorted.end());
    double worst = 0;
    std::printf("%s-notes", key);
    for (double d : distance) {
        std::printf(" %.0f", d - sorted[2]);
        worst = std::max(worst, std::abs(d - sorted[2]));
    }
    std::printf("\n%s-frames %.0f\n", key, worst);
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
    // Arguments: [PERIOD-FRAMES [PERIODS [PART]]], PART one of first-sound, placement, survival,
    // idle.
    const QStringList args = app.arguments();
    midiout::EngineConfig config;
    config.realTime = true;
    const QString only = args.value(3);
    const auto want = [&only](const char *part) { return only.isEmpty() || only == part; };
    // The built-in synthesizer's settings, but its driver stops after 0.3 s without a stream
    // instead of 2 s, so that each request below starts it afresh as a backup run's tick does.
    config.idleAudioMs = 300;
    testsupport::EngineOutput output(config);
    auto generator = std::make_unique<TMidiGen>(output);
    std::printf("period-frames %d\nperiods %d\n", 2048, 2);

    MonitorRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "bench_audio: cannot record the null sink's monitor\n");
        return 1;
    }
    const auto idle = [&] {
        return pumpUntil([&] { return !output.engine.audioRunning(); }, 5000);
    };
    // A null sink without a client that asks for a short latency sleeps up to 2 s and holds a
    // new stream's first write back until it wakes; the recorder asks for one, and once its data
    // flows the sink runs in short blocks.
    const auto awake = [&] {
        const std::size_t from = recorder.frames();
        pumpUntil([&] { return recorder.frames() > from + Rate / 10; }, 3000);
    };
    awake();

    // First sound: from the request to the first sample that is not zero at the sink, each
    // request starting the audio driver afresh. Glitches: the first 0.9 s must hold no run of 32
    // or more zero frames once the sound has risen (the note sounds throughout). The request is
    // the jingle's first second, its pad note G3, with the backup run's settings.
    testsupport::configureForBackupRun(*generator);
    generator->setDuration(100);
    std::vector<double> requests;
    // The anchor of the glitch count, FluidSynth's driver alone with a callback that writes a
    // constant, takes turns with the requests, so that both meet the same state of the machine.
    WakeUpProbe probe;
    std::vector<double> bare;
    for (int i = 0; i < (want("first-sound") ? 32 : 0); ++i) {
        idle();
        requests.push_back(MonitorRecorder::now());
        if (!generator->PlayString(JingleStart))
            requests.back() = -1;
        pumpUntil([&] { return !generator->IsPlaying(); }, 5000);
        idle();
        bare.push_back(MonitorRecorder::now());
        {
            BareDriver driver(config);
            pumpFor(1000);
        }
        pumpFor(300); // its last samples reach the sink before the next request
    }
    // First sound of a request that finds the driver still running, 0.2 s after the previous
    // stream has ended (what it rendered last has reached the sink by then; the idle stop comes
    // at 0.3 s).
    std::vector<double> running;
    if (want("first-sound") && generator->PlayString(JingleStart)) // starts the driver
        pumpUntil([&] { return !generator->IsPlaying(); }, 5000);
    for (int i = 0; i < (want("first-sound") ? 16 : 0); ++i) {
        pumpFor(200);
        running.push_back(output.engine.audioRunning() ? MonitorRecorder::now() : -1);
        if (!generator->PlayString(JingleStart))
            running.back() = -1;
        pumpUntil([&] { return !generator->IsPlaying(); }, 5000);
    }
    pumpFor(300);
    recorder.stop();
    probe.stop();
    if (want("first-sound")) {
        std::vector<double> firstSounds;
        analyse(recorder, requests, "jingle", probe.stalls(), &firstSounds);
        printStats("first-sound-ms", firstSounds);
        analyse(recorder, bare, "bare-driver", probe.stalls(), nullptr);
        std::vector<double> runningSounds;
        analyse(recorder, running, "driver-running", probe.stalls(), &runningSounds);
        printStats("first-sound-driver-running-ms", runningSounds);
        double readMedian = 0, readMax = 0;
        recorder.readDelays(readMedian, readMax);
        std::printf("record-latency-ms %.2f\nrecord-read-delay-median-ms %.2f\n"
                    "record-read-delay-max-ms %.2f\n",
                    recorder.reportedLatencyMs(), readMedian, readMax);
    }

    // Placement: the woodblock through the sink, offline, and in FluidSynth's file renderer.
    generator->setSustain(false);
    generator->setModulation(0);
    generator->setDuration(20);
    idle();
    recorder.start();
    awake();
    const double request = MonitorRecorder::now();
    if (want("placement"))
        generator->PlayString(Woodblock);
    pumpUntil([&] { return !generator->IsPlaying(); }, 10000);
    pumpFor(500);
    recorder.stop();
    const std::size_t from = recorder.frameAt(request);
    const auto sink = onsets(recorded(recorder, from, from + 4 * Rate));
    const auto offline = offlineOnsets();
    const auto anchor = anchorOnsets(output.engine.soundFontPath());
    for (const auto *list : {&sink, &offline, &anchor}) {
        for (double at : *list)
            std::fprintf(stderr, " %.1f", at * 1000.0 / Rate);
        std::fprintf(stderr, " ms\n");
    }
    placementError("placement-offline", offline, anchor);
    placementError("placement-sink", sink, anchor);

    // Survival: the server killed 0.8 s into a jingle and started again 1.5 s later, five times.
    int survived = 0, refusedWhileDown = 0, endedWhenKilled = 0;
    generator->setDuration(100);
    // The recorder keeps the null sink awake: without a client that asks for a short latency it
    // sleeps up to 2 s and holds a new stream's first write back until it wakes.
    for (int round = 0; round < (want("survival") ? 5 : 0); ++round) {
        idle();
        recorder.start();
        awake();
        generator->PlayString(testsupport::Jingle);
        pumpFor(800);
        server.kill();
        endedWhenKilled += pumpUntil([&] { return !generator->IsPlaying(); }, 1500) ? 1 : 0;
        refusedWhileDown += generator->PlayString(testsupport::Jingle) ? 0 : 1;
        if (!server.start() || !recorder.start())
            break;
        awake();
        const double again = MonitorRecorder::now();
        const bool started = generator->PlayString(JingleStart);
        pumpUntil([&] { return !generator->IsPlaying(); }, 5000);
        recorder.stop();
        const std::size_t at = recorder.frameAt(again);
        const std::size_t sound = firstSound(recorder, at, at + Rate);
        survived += started && sound < at + Rate ? 1 : 0;
        std::fprintf(stderr, "round %d: started %d, first sound %.1f ms\n", round, started,
                     double(sound - at) * 1000.0 / Rate);
    }
    std::printf("server-kills 5\nended-when-killed %d\nrefused-while-down %d\n"
                "sounded-after-restart %d\n",
                endedWhenKilled, refusedWhileDown, survived);

    // What the driver's idle stop saves: the CPU of this process over 10 s after a note, with a
    // driver that keeps rendering silence, then with the idle stop.
    for (const int idleMs : {-1, config.idleAudioMs}) {
        if (!want("idle"))
            break;
        midiout::EngineConfig idleConfig = config;
        idleConfig.idleAudioMs = idleMs;
        testsupport::EngineOutput idleOutput(idleConfig);
        TMidiGen idleGenerator(idleOutput);
        idleGenerator.setDuration(20);
        idleGenerator.PlayString(QByteArrayLiteral("I115,C5"));
        pumpUntil([&] { return !idleGenerator.IsPlaying(); }, 5000);
        pumpFor(1000);
        const double before = cpuSeconds();
        pumpFor(10000);
        std::printf("%s %.2f\n",
                    idleMs < 0 ? "idle-driver-running-cpu-percent" : "idle-cpu-percent",
                    (cpuSeconds() - before) * 10.0);
    }
    generator.reset();
    output.engine.stopAudio();
    return 0;
}
