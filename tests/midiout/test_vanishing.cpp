// The audio output vanishing while a stream sounds: a private sound server is killed under the
// engine. The stream must still stop and close with every notification, and the next streams
// must neither hang nor crash.

#include "SynthEngine.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace miditest;

namespace
{

// A sound server of the test's own with a null sink, reachable through XDG_RUNTIME_DIR.
class PrivateSoundServer
{
public:
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || !dir_.isValid())
            return false;
        runtime_ = dir_.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime_);
        QFile::setPermissions(runtime_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        server_.setProcessEnvironment(env);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.setStandardOutputFile(QProcess::nullDevice());
        server_.start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                                QStringLiteral("--exit-idle-time=-1"),
                                QStringLiteral("--load=module-null-sink"),
                                QStringLiteral("--load=module-native-protocol-unix "
                                               "auth-anonymous=1")});
        if (!server_.waitForStarted(5000))
            return false;
        const QString socket = runtime_ + QStringLiteral("/pulse/native");
        for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
            QThread::msleep(50);
        qputenv("XDG_RUNTIME_DIR", runtime_.toLocal8Bit());
        return QFile::exists(socket);
    }
    void kill()
    {
        server_.kill();
        server_.waitForFinished(5000);
    }
    ~PrivateSoundServer() { kill(); }

private:
    QTemporaryDir dir_;
    QString runtime_;
    QProcess server_;
};

} // namespace

TEST(VanishingOutput, AStreamWhoseSoundServerDiesStillStopsAndCloses)
{
    PrivateSoundServer server;
    if (!server.start())
        GTEST_SKIP() << "no sound server to start";
    midiout::EngineConfig config;
    config.audioDrivers = {QStringLiteral("pulseaudio")};
    midiout::SynthEngine engine(config);
    ASSERT_TRUE(engine.canPlay()) << engine.diagnostics().toStdString();

    NotificationLog log;
    auto stream = engine.openStream(&log);
    ASSERT_TRUE(stream);
    stream->reset();
    ASSERT_TRUE(stream->setTimeDivision(50));
    StreamBuilder b = tonePreamble(19); // a church organ, held for 5 s
    b.note(0, 0, 60, 500);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Position) == 1; }, 3000));

    server.kill();
    QThread::msleep(100);

    // The stream ends as always: its buffer comes back, then it closes.
    stream->stop();
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Done) == 1; }, 1000));
    stream->reset();
    stream->close();
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Close) == 1; }, 1000));
    stream.reset();

    // A later stream opens or is refused, but it can always be closed again.
    NotificationLog later;
    if (auto next = engine.openStream(&later)) {
        next->reset();
        EXPECT_TRUE(next->setTimeDivision(50));
        EXPECT_TRUE(next->queue(b.data(), b.size()));
        EXPECT_TRUE(next->restart());
        next->stop();
        next->reset();
        next->close();
        EXPECT_TRUE(pumpUntil([&] { return later.count(Notification::Close) == 1; }, 1000));
    }
}
