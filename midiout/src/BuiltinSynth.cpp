// The built-in synthesizer: one process-wide real-time engine, device 0 (and -1) of
// Output::system(). It is built on a thread of its own when the first component is created,
// serves the thread of the application object alone, and its audio stops when the
// application object goes (Qt's post routine), before static objects are destroyed.

#include "SynthEngine.h"

#include <midiout/Output.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace midiout
{

namespace
{

// probe(), open() and deviceName() wait this long for a start-up still under way (the SoundFont
// loads in well under a second).
constexpr auto StartupWait = std::chrono::seconds(5);

// The process-wide synthesizer. Never destroyed: it lives as long as the process, and its
// service thread sleeps through the exit.
class Builtin
{
public:
    // Starts building the engine, once, when an application object exists (its post routine
    // ends the start-up thread before static objects go).
    void start()
    {
        if (QCoreApplication::instance() == nullptr)
            return;
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() && engine_ == nullptr)
            thread_ = std::thread([this] {
                EngineConfig config;
                config.realTime = true;
                auto engine = std::make_unique<SynthEngine>(config);
                std::lock_guard lock(mutex_);
                engine_ = std::move(engine);
                built_.notify_all();
            });
        stopWithApplication();
    }

    // The engine once built; null when the start-up has not ended by the deadline. Handles no
    // events meanwhile, so nothing runs nested in a request.
    SynthEngine *wait()
    {
        start();
        std::unique_lock lock(mutex_);
        if (thread_.joinable())
            built_.wait_for(lock, StartupWait, [this] { return engine_ != nullptr; });
        return engine_.get();
    }

private:
    // Registers the stop with the current application object once.
    void stopWithApplication()
    {
        if (registered_ || QCoreApplication::instance() == nullptr)
            return;
        registered_ = true;
        qAddPostRoutine(&Builtin::applicationGone);
    }

    static void applicationGone();

    std::mutex mutex_;
    std::condition_variable built_;
    std::thread thread_;
    std::unique_ptr<SynthEngine> engine_;
    bool registered_ = false;
};

Builtin &builtin()
{
    static auto *instance = new Builtin;
    return *instance;
}

void Builtin::applicationGone()
{
    // The start-up thread ends before static objects go; the engine's audio stops, and a later
    // application object connects afresh.
    Builtin &self = builtin();
    std::unique_lock lock(self.mutex_);
    self.registered_ = false;
    std::thread startup = std::move(self.thread_);
    lock.unlock();
    if (startup.joinable())
        startup.join();
    lock.lock();
    if (self.engine_ != nullptr)
        self.engine_->stopAudio();
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
        SynthEngine *engine = builtin().wait();
        if (engine == nullptr)
            return name;
        if (!engine->hasSoundFont())
            return name + QStringLiteral(" (no SoundFont)");
        return name +
               QStringLiteral(" (%1)").arg(engine->soundFontPath().section(QLatin1Char('/'), -1));
    }

    bool probe(int device) override
    {
        if ((device != 0 && device != -1) || !onApplicationThread())
            return false;
        SynthEngine *engine = builtin().wait();
        return engine != nullptr && engine->canPlay();
    }

    std::unique_ptr<Stream> open(int device, QObject *receiver) override
    {
        if ((device != 0 && device != -1) || !onApplicationThread())
            return nullptr;
        SynthEngine *engine = builtin().wait();
        return engine != nullptr ? engine->openStream(receiver) : nullptr;
    }

    void prepare() override
    {
        // Once the event loop runs: a component is often created with a window, whose start-up
        // the SoundFont's loading would slow down. A request before then starts it itself.
        if (onApplicationThread())
            QTimer::singleShot(0, QCoreApplication::instance(), [] { builtin().start(); });
    }
};

} // namespace

void StartBuiltinSynth()
{
    builtin().start();
}

Output &Output::system()
{
    static SystemOutput output;
    return output;
}

} // namespace midiout
