#include "Edges.h"

#include "SinkLevels.h"

#include <QProcess>

#include <cstdio>
#include <vector>

namespace bench
{

namespace
{

constexpr int Rate = MonitorRecorder::Rate;
constexpr int TrainNotes = 20;
// Twenty woodblocks 100 ms apart, each heard as an attack of its own.
QByteArray woodblockTrain()
{
    QByteArray train = "I115,C5;5";
    for (int i = 1; i < TrainNotes; ++i)
        train += ",10;C5";
    return train;
}

// The trains of a part: for each request, the notes heard and the time to its first sound.
class Trains
{
public:
    explicit Trains(const char *key) : key_(key) {}

    // Counts the train's notes heard from the request on (none for a request that was not
    // started, request < 0), and the time to its first sound.
    void hear(const MonitorRecorder &recorder, double request)
    {
        int notes = 0;
        double ms = -1;
        if (request >= 0) {
            const std::size_t from = recorder.frameAt(request);
            // 2.4 s: the train and its latency.
            notes = int(attacksIn(recorder, from, from + Rate * 12 / 5).size());
            const std::size_t sound = firstAtLeast(recorder, from, from + 3 * Rate, Above30dBFS);
            ms = sound < from + 3 * Rate ? (recorder.timeOf(sound) - request) * 1000.0 : -1;
        }
        heard_.push_back(notes);
        first_.push_back(ms);
        std::fprintf(stderr, "%s: %d of %d notes heard, first sound %.2f ms\n", key_, notes,
                     TrainNotes, ms);
    }

    void print() const
    {
        int whole = 0, least = TrainNotes;
        for (const int notes : heard_) {
            whole += notes == TrainNotes ? 1 : 0;
            least = std::min(least, notes);
        }
        std::printf("%s-runs %zu\n%s-whole %d\n%s-least %d\n", key_, heard_.size(), key_, whole,
                    key_, heard_.empty() ? 0 : least);
        std::vector<double> sounded;
        for (const double ms : first_)
            if (ms >= 0)
                sounded.push_back(ms);
        printStats(key_, sounded);
    }

private:
    const char *const key_;
    std::vector<int> heard_;
    std::vector<double> first_;
};

double valueOf(const QByteArray &output, const QByteArray &key)
{
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith(key + ' '))
            return line.mid(key.size() + 1).toDouble();
    return -1;
}

} // namespace

void measureFirstRequests(SoundBench &bench, const QString &firstRequest, int runs)
{
    bench.recorder.start();
    bench.awake();
    std::vector<double> requests;
    for (int run = 0; run < runs; ++run) {
        pumpFor(1000); // the last run's sound has ended
        QProcess child;
        child.start(firstRequest, {QString::fromLatin1(woodblockTrain())});
        if (!child.waitForFinished(20000))
            child.kill();
        const QByteArray output = child.readAllStandardOutput();
        requests.push_back(valueOf(output, "started") == 1 ? valueOf(output, "request") : -1);
    }
    pumpFor(300);
    bench.recorder.stop();
    Trains trains("first-request");
    for (const double request : requests)
        trains.hear(bench.recorder, request);
    trains.print();
}

void measureFirstAfterRestart(SoundBench &bench, int rounds)
{
    Trains trains("after-restart");
    for (int round = 0; round < rounds; ++round) {
        // The generator has played before; its sink is lost with the server.
        bench.waitEnd();
        bench.generator.setVolume(100);
        bench.generator.setDuration(50);
        bench.generator.PlayString(QByteArrayLiteral("I16,C5"));
        pumpFor(300);
        bench.server.kill();
        bench.waitEnd(3000);
        pumpFor(200);
        if (!bench.server.start() || !bench.recorder.start())
            break;
        bench.awake();
        const double request = MonitorRecorder::now();
        const bool started = bench.generator.PlayString(woodblockTrain());
        bench.waitEnd(5000);
        pumpFor(200);
        bench.recorder.stop();
        trains.hear(bench.recorder, started ? request : -1);
    }
    trains.print();
}

void measureStreamEnds(SoundBench &bench, int runs)
{
    // A drawbar organ held for 1 s, and a woodblock of 0.2 s: the last note-off is heard 1 s
    // (0.2 s) after the note's first sample at the sink.
    struct Tune {
        QByteArray text;
        quint32 duration;
        const char *key;
    };
    const Tune tunes[] = {{"I16,C5", 100, "end-organ"}, {"I115,C5", 20, "end-woodblock"}};
    for (const Tune &tune : tunes) {
        std::vector<double> lateness;
        for (int run = 0; run < runs; ++run) {
            bench.waitEnd();
            bench.recorder.start();
            bench.awake();
            double ended = -1;
            const auto connection = QObject::connect(
                &bench.generator, &TMidiGen::IsPlayingChanged, &bench.generator,
                [&ended](bool playing) { ended = playing ? -1 : MonitorRecorder::now(); });
            bench.generator.setVolume(100);
            bench.generator.setDuration(tune.duration);
            const double request = MonitorRecorder::now();
            const bool started = bench.generator.PlayString(tune.text);
            bench.waitEnd(5000);
            QObject::disconnect(connection);
            pumpFor(300);
            bench.recorder.stop();
            const std::size_t from = bench.recorder.frameAt(request);
            const std::size_t sound = firstAtLeast(bench.recorder, from, from + Rate, 1);
            if (!started || ended < 0 || sound >= from + Rate)
                continue;
            const double noteOff = bench.recorder.timeOf(sound) + tune.duration * 0.010;
            lateness.push_back((ended - noteOff) * 1000.0);
            std::fprintf(stderr, "%s: IsPlayingChanged(false) %.2f ms after the note-off\n",
                         tune.key, lateness.back());
        }
        printStats(tune.key, lateness);
    }
}

} // namespace bench
