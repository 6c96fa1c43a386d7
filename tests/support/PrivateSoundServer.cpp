#include "PrivateSoundServer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace testsupport
{

bool PrivateSoundServer::start()
{
    kill();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty() || !dir_.isValid())
        return false;
    const QString runtime = dir_.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = runtime + QStringLiteral("/pulse/native");
    QFile::remove(socket);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    server_.setProcessEnvironment(env);
    server_.setStandardOutputFile(QProcess::nullDevice());
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start(program,
                  {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                   QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--load=module-null-sink"),
                   QStringLiteral("--load=module-native-protocol-unix "
                                  "auth-anonymous=1")});
    if (!server_.waitForStarted(5000))
        return false;
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(50);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    // A fresh null sink sleeps through its first block of 2 s, and holds a new stream's first
    // write until then; streams started after it run at once.
    QThread::msleep(2100);
    return QFile::exists(socket);
}

void PrivateSoundServer::kill()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.kill(); // SIGKILL to its pid: gone at once, as in a crash
    server_.waitForFinished(5000);
}

} // namespace testsupport
