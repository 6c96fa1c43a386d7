#include "BuiltinSynth.h"

#include "SynthEngine.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace midiout
{

namespace
{

// probe(), open() and deviceName() wait this long for a start-up that is still running.
constexpr int StartupWaitMs = 5000;

std::once_flag started;
std::atomic<SynthEngine *> engine{nullptr}; // never deleted: it lives as long as the process

void stopBuiltinAudio()
{
    if (SynthEngine *e = engine.load())
        e->stopAudio();
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
        SynthEngine *e = WaitForBuiltinSynth(StartupWaitMs);
        if (e == nullptr)
            return name;
        if (!e->hasSoundFont())
            return name + QStringLiteral(" (no SoundFont)");
        return name + QStringLiteral(" (%1)").arg(e->soundFontPath().section(QLatin1Char('/'), -1));
    }

    bool probe(int device) override
    {
        SynthEngine *e = device == 0 || device == -1 ? WaitForBuiltinSynth(StartupWaitMs) : nullptr;
        return e != nullptr && e->canPlay();
    }

    std::unique_ptr<Stream> open(int device, QObject *receiver) override
    {
        return probe(device) ? engine.load()->openStream(receiver) : nullptr;
    }
};

} // namespace

void StartBuiltinSynth()
{
    std::call_once(started, [] {
        std::thread([] {
            EngineConfig config;
            config.audioDrivers = EngineConfig::desktopAudioDrivers();
            engine.store(new SynthEngine(config));
            // Wakes a wait of the GUI thread.
            if (QCoreApplication *app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [] {}, Qt::QueuedConnection);
        }).detach();
        std::atexit(stopBuiltinAudio);
    });
}

SynthEngine *WaitForBuiltinSynth(int waitMs)
{
    StartBuiltinSynth();
    // The wait handles events, as the tone generator's waits do: the window stays alive.
    const QDeadlineTimer deadline(waitMs);
    QTimer wakeUp;
    if (QCoreApplication::instance() != nullptr)
        wakeUp.start(waitMs);
    while (engine.load() == nullptr && !deadline.hasExpired()) {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return engine.load();
}

Output &Output::system()
{
    static SystemOutput output;
    return output;
}

} // namespace midiout
