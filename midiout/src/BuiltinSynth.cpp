// The built-in synthesizer: one process-wide real-time engine, device 0 (and -1) of
// Output::system(). It is made when a component first asks for it (once the event loop runs, or
// at a request before then), and its service thread loads the SoundFont and connects the sink,
// so that nothing on the application's thread waits for either. It serves the thread of the
// application object alone; its audio stops when the application object goes (Qt's post
// routine), before static objects are destroyed, and starts again for a later one.

#include "SynthEngine.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <mutex>

namespace midiout
{

namespace
{

// deviceName() waits this long for the SoundFont (it loads in well under a second).
constexpr auto StartupWait = std::chrono::seconds(5);

std::mutex builtinMutex;
SynthEngine *engine = nullptr; // never destroyed: its service thread sleeps through the exit
bool stopsWithApplication = false;
QStringList chosenSoundFonts; // SetBuiltinSoundFonts(); empty: the default ones

void applicationGone()
{
    const std::lock_guard lock(builtinMutex);
    stopsWithApplication = false;
    engine->control.applicationGone();
    engine->supervisor->drop();
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
    if (!stopsWithApplication) { // once per application object
        stopsWithApplication = true;
        qAddPostRoutine(&applicationGone);
    }
    return engine;
}

bool onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

class SystemOutput final : public Output
{
public:
    int deviceCount() override { return 1; }

    QString deviceName(int device) override
    {
        if (device != 0 && device != -1)
            return {};
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
        return (device == 0 || device == -1) && onApplicationThread() &&
               builtin()->control.canPlay();
    }

    std::unique_ptr<Stream> open(int device, QObject *receiver) override
    {
        return probe(device) ? builtin()->control.open(receiver) : nullptr;
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
