// The machine's devices, Output::system(): device 0 (and -1) is the built-in synthesizer, one
// process-wide real-time engine; devices 1, 2, ... are the MIDI input ports of the PipeWire
// graph, in the order the graph announced them. The engine is made when a component first asks
// for it (once the event loop runs, or at a request before then), and its service thread loads
// the SoundFont and connects the sink, so that nothing on the application's thread waits for
// either; the graph's connection is made when the devices are first counted or named. Both serve
// the thread of the application object alone; their streams end when the application object
// goes (Qt's post routine), before static objects are destroyed.

#include "MidiGraph.h"
#include "SynthEngine.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

namespace midiout
{

namespace
{

// deviceName() waits this long for the SoundFont (it loads in well under a second).
constexpr auto StartupWait = std::chrono::seconds(5);

std::mutex builtinMutex;
SynthEngine *engine = nullptr;        // never destroyed: its service thread sleeps through the exit
MidiGraph *graph = nullptr;           // never destroyed: a stream handle may outlive the connection
std::vector<MidiGraph *> spentGraphs; // connections whose daemon went away
bool triedGraph = false;
// A graph without a daemon is looked for again at most this often.
constexpr std::int64_t RetryGraphMs = 1000;
bool stopsWithApplication = false;
QStringList chosenSoundFonts; // SetBuiltinSoundFonts(); empty: the default ones

void applicationGone()
{
    const std::lock_guard lock(builtinMutex);
    stopsWithApplication = false;
    if (engine != nullptr) {
        engine->control.applicationGone();
        engine->device.dropSink();
    }
    if (graph != nullptr)
        graph->applicationGone();
}

void stopWithApplication()
{
    if (!stopsWithApplication && QCoreApplication::instance() != nullptr) {
        stopsWithApplication = true; // once per application object
        qAddPostRoutine(&applicationGone);
    }
}

// The engine, made once an application object exists; null before.
SynthEngine *builtin()
{
    const std::lock_guard lock(builtinMutex);
    if (QCoreApplication::instance() == nullptr)
        return engine;
    if (engine == nullptr) {
        EngineConfig config;
        config.realTime = true;
        if (!chosenSoundFonts.isEmpty())
            config.soundFonts = chosenSoundFonts;
        engine = new SynthEngine(config);
    }
    stopWithApplication();
    return engine;
}

// The graph's connection, made at the first call and again after its daemon went away (a count
// after that may wait for the new one's first answer too); its node is named after the
// application.
MidiGraph &midiGraph()
{
    const std::lock_guard lock(builtinMutex);
    static std::int64_t lastTryMs = 0;
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
    const QCoreApplication *app = QCoreApplication::instance();
    const bool served = app == nullptr || QThread::currentThread() == app->thread();
    if (graph != nullptr && served && nowMs - lastTryMs >= RetryGraphMs && graph->spent()) {
        // The daemon went, or none answered: look for one again, once a second at most.
        if (graph->reached())
            spentGraphs.push_back(graph); // its thread may still serve a stream handle
        else
            delete graph;
        graph = nullptr;
    }
    if (graph == nullptr) {
        lastTryMs = nowMs;
        const QString name = QCoreApplication::applicationName();
        graph = new MidiGraph(name.isEmpty() ? QStringLiteral("midiout") : name,
                              spentGraphs.empty() && !triedGraph);
        triedGraph = true;
    }
    stopWithApplication();
    return *graph;
}

// The graph port that device names now, if any.
std::optional<MidiGraph::Port> graphPort(int device)
{
    if (device < 1)
        return std::nullopt;
    const std::vector<MidiGraph::Port> ports = midiGraph().ports();
    if (std::size_t(device) > ports.size())
        return std::nullopt;
    return ports[std::size_t(device) - 1];
}

bool onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

class SystemOutput final : public Output
{
public:
    int deviceCount() override { return 1 + int(midiGraph().ports().size()); }

    QString deviceName(int device) override
    {
        if (device != 0 && device != -1) {
            const auto port = graphPort(device);
            if (!port)
                return {};
            return port->description.isEmpty()
                       ? port->name
                       : port->name + QStringLiteral(" (%1)").arg(port->description);
        }
        const QString name = QStringLiteral("Built-in synthesizer");
        SynthEngine *engine = builtin();
        if (engine == nullptr || !engine->core.waitLoaded(StartupWait))
            return engine != nullptr && engine->core.state() == SynthCore::Load::Failed
                       ? name + QStringLiteral(" (no SoundFont)")
                       : name;
        return name + QStringLiteral(" (%1)").arg(
                          engine->core.soundFontPath().section(QLatin1Char('/'), -1));
    }

    bool probe(int device) override
    {
        if (!onApplicationThread())
            return false;
        if (device == 0 || device == -1)
            return builtin()->control.canPlay();
        const auto port = graphPort(device);
        return port && midiGraph().listed(*port);
    }

    std::unique_ptr<Stream> open(int device, QObject *receiver) override
    {
        if (!onApplicationThread())
            return nullptr;
        if (device == 0 || device == -1)
            return probe(device) ? builtin()->control.open(receiver) : nullptr;
        const auto port = graphPort(device);
        return port ? midiGraph().open(*port, receiver) : nullptr;
    }

    void prepare() override
    {
        // Once the event loop runs: a component is often created with a window, whose start-up
        // the SoundFont's loading would slow down. A request before then starts it itself.
        if (onApplicationThread())
            QTimer::singleShot(0, QCoreApplication::instance(), [] { builtin(); });
    }
};

} // namespace

void StartBuiltinSynth()
{
    builtin();
}

bool SetBuiltinSoundFonts(const QStringList &soundFonts)
{
    const std::lock_guard lock(builtinMutex);
    if (engine != nullptr)
        return false;
    chosenSoundFonts = soundFonts;
    return true;
}

Output &Output::system()
{
    static SystemOutput output;
    return output;
}

} // namespace midiout
