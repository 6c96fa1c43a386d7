// The graph's MIDI instruments as devices, measured at a test instrument on a private PipeWire
// (another connection, as another program's instrument), on the public API alone: a request to
// its first event at the instrument (after 3.5 s of silence, still linked; after 6 s, when the
// idle link has gone and is made again; 0.25 s after a stream ended; interrupting a sounding
// stream), on CLOCK_MONOTONIC of the event's graph frame against the request's call; every event
// of a 20-note train against its tick's frame; Stop() to the reset at the instrument; an
// instrument that joins to its listing. Prints "key value" lines for scripts/bench.

#include "PrivateSoundServer.h"
#include "TestInstrument.h"

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/Output.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace
{

using testsupport::TestInstrument;

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool runUntil(const std::function<bool()> &done, double seconds)
{
    const double end = now() + seconds;
    while (!done() && now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return done();
}

void runFor(double seconds)
{
    runUntil([] { return false; }, seconds);
}

int deviceOf(const QString &portName)
{
    midiout::Output &devices = midiout::Output::system();
    const int count = devices.deviceCount();
    for (int device = 1; device < count; ++device)
        if (devices.deviceName(device).startsWith(portName))
            return device;
    return -2;
}

double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[std::size_t(std::lround(q * double(values.size() - 1)))];
}

void print(const char *key, const std::vector<double> &ms)
{
    std::printf("%s-median %.2f\n%s-p90 %.2f\n%s-max %.2f\n%s-count %zu\n", key, quantile(ms, 0.5),
                key, quantile(ms, 0.9), key, quantile(ms, 1.0), key, ms.size());
}

// Milliseconds from call() to the first event the instrument takes in after it.
double toFirstEvent(TestInstrument &instrument, const std::function<void()> &call)
{
    const std::size_t before = instrument.events().size();
    const double start = now();
    call();
    if (!runUntil([&] { return instrument.events().size() > before; }, 5))
        return NAN;
    return (instrument.events()[before].time - start) * 1e3;
}

bool waitEnd(TMidiGen &generator)
{
    return runUntil([&] { return !generator.IsPlaying(); }, 20);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testsupport::PrivateSoundServer server(testsupport::PrivateSoundServer::Kind::PipeWire);
    if (!server.start()) {
        std::fprintf(stderr, "bench_graph: the private PipeWire did not start\n");
        return 1;
    }
    // An instrument that joins: the time until a count of the devices lists it.
    std::vector<double> join;
    for (int run = 0; run < 10; ++run) {
        const QString name = QStringLiteral("joining-%1").arg(run);
        const double start = now();
        TestInstrument joining(name);
        if (runUntil([&] { return deviceOf(joining.portName()) > 0; }, 10))
            join.push_back((now() - start) * 1e3);
    }
    print("graph-join-ms", join);

    TestInstrument instrument(QStringLiteral("bench-synth"));
    if (!runUntil([&] { return deviceOf(instrument.portName()) > 0; }, 10)) {
        std::fprintf(stderr, "bench_graph: the instrument was not listed\n");
        return 1;
    }
    TMidiGen generator;
    generator.SetDevice(deviceOf(instrument.portName()));
    generator.setDuration(10);

    std::vector<double> cold, warm, interrupting, stop;
    for (int run = 0; run < 10; ++run) {
        runFor(3.5);
        cold.push_back(toFirstEvent(instrument, [&] { generator.PlayNote(60); }));
        waitEnd(generator);
        runFor(0.25);
        warm.push_back(toFirstEvent(instrument, [&] { generator.PlayNote(62); }));
        waitEnd(generator);
    }
    std::vector<double> relinked;
    for (int run = 0; run < 5; ++run) {
        runFor(6.0);
        relinked.push_back(toFirstEvent(instrument, [&] { generator.PlayNote(60); }));
        waitEnd(generator);
    }
    for (int run = 0; run < 20; ++run) {
        generator.PlayString("I17,C4;1000");
        runFor(0.3);
        interrupting.push_back(toFirstEvent(instrument, [&] { generator.PlayNote(64); }));
        waitEnd(generator);
        generator.PlayString("I17,C4;1000");
        runFor(0.3);
        stop.push_back(toFirstEvent(instrument, [&] { generator.Stop(); }));
        waitEnd(generator);
    }
    print("graph-first-cold-ms", cold);
    print("graph-first-warm-ms", warm);
    print("graph-first-relinked-ms", relinked);
    print("graph-first-interrupting-ms", interrupting);
    print("graph-stop-reset-ms", stop);

    // A train of 20 notes, 100 ms apart: each event's frame against the first's plus its tick,
    // in the runs that the graph ran whole (a loaded machine makes it skip a cycle now and
    // then, which delays or drops what was written for it).
    QByteArray train = "C4;5";
    for (int note = 1; note < 20; ++note)
        train += ",10;C4;5";
    const QByteArray stream = generator.CompileString(train).Stream();
    const std::size_t messages = std::size_t(stream.size()) / midiout::StreamEvent::Size;
    std::vector<double> deviation;
    int disturbed = 0;
    for (int run = 0; run < 10; ++run) {
        runFor(0.25);
        instrument.clear();
        const std::size_t reset = 64; // the open's reset comes first
        generator.PlayString(train);
        waitEnd(generator);
        runUntil([&] { return instrument.events().size() >= reset + messages + reset; }, 5);
        const auto events = instrument.events();
        if (instrument.missedCycles() != 0 || events.size() < reset + messages) {
            ++disturbed;
            continue;
        }
        std::uint64_t tick = 0;
        double worst = 0;
        const double framesPerTick = events[reset].rate / 100;
        for (std::size_t i = 0; i < messages; ++i) {
            tick += midiout::StreamEvent::readWord(
                reinterpret_cast<const std::uint8_t *>(stream.constData()) +
                i * midiout::StreamEvent::Size);
            const double frame = double(events[reset + i].frame - events[reset].frame);
            worst = std::max(worst, std::abs(frame - double(tick) * framesPerTick));
        }
        deviation.push_back(worst);
    }
    std::printf("graph-train-events %zu\ngraph-train-max-frames %.0f\ngraph-train-whole-runs %zu\n"
                "graph-train-runs-with-missed-cycles %d\n",
                messages, quantile(deviation, 1.0), deviation.size(), disturbed);
    return 0;
}
