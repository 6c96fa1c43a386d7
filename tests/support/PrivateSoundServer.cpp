#include "PrivateSoundServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    QList<QByteArray> environment;
    for (const QString &entry : env.toStringList())
        environment.append(entry.toLocal8Bit());
    const QByteArray path = QFile::encodeName(program);
    const char *const argv[] = {path.constData(),
                                "-n",
                                "--daemonize=no",
                                "--exit-idle-time=-1",
                                "--load=module-null-sink",
                                "--load=module-native-protocol-unix auth-anonymous=1",
                                nullptr};
    std::vector<const char *> envp;
    for (const QByteArray &entry : environment)
        envp.push_back(entry.constData());
    envp.push_back(nullptr);

    // fork() and not QProcess: QProcess runs the child in this process's memory until exec
    // (vfork), and under ThreadSanitizer that child's calls count as the main thread's and
    // spoil its ordering: every later hand-off of the main thread (libpulse's, the engine's
    // queue) is then reported as a data race. Only async-signal-safe calls follow in the child.
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // no server left behind by a crashed test
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execve(argv[0], const_cast<char *const *>(argv), const_cast<char *const *>(envp.data()));
        ::_exit(127);
    }
    if (pid_ < 0)
        return false;
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) { // it did not start
            pid_ = -1;
            return false;
        }
        QThread::msleep(50);
    }
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    // A fresh null sink sleeps through its first block of 2 s, and holds a new stream's first
    // write until then; streams started after it run at once.
    QThread::msleep(2100);
    return QFile::exists(socket);
}

void PrivateSoundServer::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void PrivateSoundServer::suspend()
{
    if (pid_ > 0)
        ::kill(pid_, SIGSTOP);
}

void PrivateSoundServer::resume()
{
    if (pid_ > 0)
        ::kill(pid_, SIGCONT);
}

} // namespace testsupport
