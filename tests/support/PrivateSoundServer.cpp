#include "PrivateSoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport
{

namespace
{

constexpr int StartMs = 10000;

// PipeWire's null sink, a node of the daemon itself that its own timer drives.
const char *const PipeWireNullSink = R"(context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = "null"
               node.description = "Null sink" media.class = Audio/Sink
               audio.position = [ FL FR ] object.linger = true } }
]
)";

QStringList programsOf(PrivateSoundServer::Kind kind)
{
    if (kind == PrivateSoundServer::Kind::PulseAudio)
        return {QStringLiteral("pulseaudio")};
    return {QStringLiteral("dbus-daemon"), QStringLiteral("pipewire"),
            QStringLiteral("wireplumber"), QStringLiteral("pipewire-pulse"),
            QStringLiteral("wpctl"),       QStringLiteral("pactl")};
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > StartMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

QStringList PrivateSoundServer::missingPrograms(Kind kind)
{
    QStringList missing;
    for (const QString &program : programsOf(kind))
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing.append(program);
    return missing;
}

bool PrivateSoundServer::start()
{
    kill();
    if (!installed(kind_) || !dir_.isValid())
        return false;
    QDir().mkpath(runtime());
    QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString pulseSocket = runtime() + QStringLiteral("/pulse/native");
    QFile::remove(pulseSocket);
    const bool started = kind_ == Kind::PulseAudio ? startPulseAudio() : startPipeWire();
    if (!started) {
        kill();
        return false;
    }
    qputenv("XDG_RUNTIME_DIR", runtime().toLocal8Bit());
    return true;
}

pid_t PrivateSoundServer::spawn(const QStringList &command)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir_.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + runtime() + QStringLiteral("/bus"));
    for (const char *name : {"PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR", "PULSE_SERVER"})
        env.remove(QString::fromLatin1(name));
    QList<QByteArray> strings;
    for (const QString &entry : env.toStringList())
        strings.append(entry.toLocal8Bit());
    std::vector<const char *> envp;
    for (const QByteArray &entry : strings)
        envp.push_back(entry.constData());
    envp.push_back(nullptr);
    QList<QByteArray> arguments{QFile::encodeName(QStandardPaths::findExecutable(command[0]))};
    for (qsizetype i = 1; i < command.size(); ++i)
        arguments.append(command[i].toLocal8Bit());
    std::vector<const char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(argument.constData());
    argv.push_back(nullptr);

    // fork() and not QProcess: QProcess runs the child in this process's memory until exec
    // (vfork), and under ThreadSanitizer that child's calls count as the main thread's and
    // spoil its ordering: every later hand-off of the main thread (libpulse's, the engine's
    // queue) is then reported as a data race. Only async-signal-safe calls follow in the child.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // no server left behind by a crashed test
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execve(argv[0], const_cast<char *const *>(argv.data()),
                 const_cast<char *const *>(envp.data()));
        ::_exit(127);
    }
    return pid;
}

bool PrivateSoundServer::startPulseAudio()
{
    const pid_t pid =
        spawn({QStringLiteral("pulseaudio"), QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
               QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--load=module-null-sink"),
               QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1")});
    if (pid < 0)
        return false;
    pids_.push_back(pid);
    const QString socket = runtime() + QStringLiteral("/pulse/native");
    if (!waitFor([&] { return QFile::exists(socket) || ::waitpid(pid, nullptr, WNOHANG) != 0; }) ||
        !QFile::exists(socket))
        return false;
    // A fresh null sink sleeps through its first block of 2 s, and holds a new stream's first
    // write until then; streams started after it run at once.
    QThread::msleep(2100);
    return true;
}

bool PrivateSoundServer::startPipeWire()
{
    const QString drop = dir_.filePath(QStringLiteral("config/pipewire/pipewire.conf.d"));
    QDir().mkpath(drop);
    QFile config(drop + QStringLiteral("/null-sink.conf"));
    if (!config.open(QIODevice::WriteOnly) || config.write(PipeWireNullSink) < 0)
        return false;
    config.close();
    QFile::remove(runtime() + QStringLiteral("/pipewire-0"));
    QFile::remove(runtime() + QStringLiteral("/bus"));
    // The daemon first (kill() and suspend() act on pids_[0]), its session bus beside it.
    const QStringList commands[] = {
        {QStringLiteral("pipewire")},
        {QStringLiteral("dbus-daemon"), QStringLiteral("--session"), QStringLiteral("--nofork"),
         QStringLiteral("--address=unix:path=") + runtime() + QStringLiteral("/bus")},
        {QStringLiteral("wireplumber")},
        {QStringLiteral("pipewire-pulse")}};
    for (const QStringList &command : commands) {
        const pid_t pid = spawn(command);
        if (pid < 0)
            return false;
        pids_.push_back(pid);
        if (command[0] == QLatin1String("pipewire") &&
            !waitFor([&] { return QFile::exists(runtime() + QStringLiteral("/pipewire-0")); }))
            return false;
        if (command[0] == QLatin1String("dbus-daemon") &&
            !waitFor([&] { return QFile::exists(runtime() + QStringLiteral("/bus")); }))
            return false;
    }
    // Ready once the session manager has made the null sink the default (it links new streams
    // to it) and the PulseAudio service answers.
    return waitFor([&] {
        if (!QFile::exists(runtime() + QStringLiteral("/pulse/native")))
            return false;
        const pid_t pid = spawn({QStringLiteral("wpctl"), QStringLiteral("inspect"),
                                 QStringLiteral("@DEFAULT_AUDIO_SINK@")});
        int status = -1;
        if (pid > 0 && !waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    });
}

void PrivateSoundServer::kill()
{
    for (const pid_t pid : pids_) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pids_.clear();
}

void PrivateSoundServer::suspend()
{
    if (!pids_.empty())
        ::kill(pids_.front(), SIGSTOP);
}

void PrivateSoundServer::resume()
{
    if (!pids_.empty())
        ::kill(pids_.front(), SIGCONT);
}

} // namespace testsupport
