#include "BuiltinSynth.h"

#include "SynthEngine.h"
#include <midiout/Output.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace midiout
{

namespace
{

// probe(), open() and deviceName() wait this long for a start-up that is still running.
constexpr int StartupWaitMs = 3000;

struct Builtin {
    std::once_flag started;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    SynthEngine *engine = nullptr; // never deleted: it lives as long as the process
};

Builtin &builtin()
{
    static Builtin *const instance = new Builtin; // left alive on purpose, as the engine
    return *instance;
}

void stopBuiltinAudio()
{
    Builtin &b = builtin();
    if (b.thread.joinable())
        b.thread.join();
    if (b.engine != nullptr)
        b.engine->stopAudio();
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
        SynthEngine *engine = WaitForBuiltinSynth(StartupWaitMs);
        if (engine == nullptr)
            return name;
        if (!engine->hasSoundFont())
            return name + QStringLiteral(" (no SoundFont)");
        return name +
               QStringLiteral(" (%1)").arg(engine->soundFontPath().section(QLatin1Char('/'), -1));
    }

    bool probe(int device) override
    {
        if (device != 0 && device != -1)
            return false;
        SynthEngine *engine = WaitForBuiltinSynth(StartupWaitMs);
        return engine != nullptr && engine->canPlay();
    }

    std::unique_ptr<Stream> open(int device, QObject *receiver) override
    {
        if (!probe(device))
            return nullptr;
        return WaitForBuiltinSynth(0)->openStream(receiver);
    }
};

} // namespace

void StartBuiltinSynth()
{
    Builtin &b = builtin();
    std::call_once(b.started, [&b] {
        b.thread = std::thread([&b] {
            EngineConfig config;
            config.audioDrivers = EngineConfig::desktopAudioDrivers();
            // An idle program renders no silence; the next stream starts the driver again.
            config.idleAudioMs = 2000;
            auto *engine = new SynthEngine(config);
            std::lock_guard lock(b.mutex);
            b.engine = engine;
            b.done = true;
            b.ready.notify_all();
        });
        std::atexit(stopBuiltinAudio);
    });
}

SynthEngine *WaitForBuiltinSynth(int waitMs)
{
    StartBuiltinSynth();
    Builtin &b = builtin();
    std::unique_lock lock(b.mutex);
    b.ready.wait_for(lock, std::chrono::milliseconds(waitMs), [&b] { return b.done; });
    return b.engine;
}

Output &Output::system()
{
    static SystemOutput output;
    return output;
}

} // namespace midiout
