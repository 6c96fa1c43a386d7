#include "EngineTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace enginetest
{

HangGuard::HangGuard(int limitMs, const char *what)
{
    thread_ = std::thread([this, limitMs, what] {
        std::unique_lock lock(mutex_);
        if (cancelled_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done_; }))
            return;
        std::fprintf(stderr, "FAILED: %s did not finish within %d s: it hangs\n", what,
                     limitMs / 1000);
        std::fflush(stderr);
        std::_Exit(3);
    });
}

HangGuard::~HangGuard()
{
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    cancelled_.notify_all();
    thread_.join();
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

namespace
{

double seconds(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

} // namespace

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage);
}

QByteArray ChildRun::value(const QByteArray &key) const
{
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1).trimmed();
    return {};
}

ChildRun runChild(const QString &program, const QStringList &arguments, int deadlineMs)
{
    ChildRun run;
    QTemporaryFile out;
    if (!out.open())
        return run;
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> texts{path};
    for (const QString &argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    // A file and not a pipe: a child that writes much cannot block on a reader that waits for
    // it to end.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.handle(), STDOUT_FILENO);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return run;

    const double deadline = monotonicSeconds() + deadlineMs / 1000.0;
    int status = 0;
    rusage usage{};
    pid_t reaped = 0;
    while ((reaped = wait4(pid, &status, WNOHANG, &usage)) == 0 && monotonicSeconds() < deadline)
        usleep(5000);
    if (reaped == 0) {
        ::kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
    } else {
        run.exited = true;
    }
    run.endTime = monotonicSeconds();
    run.cpuSeconds = seconds(usage);
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    QFile written(out.fileName());
    if (written.open(QIODevice::ReadOnly))
        run.output = written.readAll();
    return run;
}

double noteFrequency(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

double amplitudeAt(const Samples &audio, std::size_t from, std::size_t count, double hz,
                   double rate)
{
    double re = 0, im = 0, weights = 0;
    const double step = 2 * std::numbers::pi * hz / rate;
    for (std::size_t i = 0; i < count && 2 * (from + i) < audio.size(); ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count));
        const double x = hann * audio[2 * (from + i)];
        re += x * std::cos(step * double(i));
        im -= x * std::sin(step * double(i));
        weights += hann;
    }
    return weights > 0 ? 2 * std::hypot(re, im) / weights : 0;
}

std::vector<double> spectrum(const Samples &audio, std::size_t from, std::size_t count,
                             double stepHz, double maxHz, double rate)
{
    std::vector<double> result;
    for (double hz = 50; hz <= maxHz; hz += stepHz)
        result.push_back(amplitudeAt(audio, from, count, hz, rate));
    return result;
}

double similarity(const std::vector<double> &a, const std::vector<double> &b)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

int peak(const Samples &audio, std::size_t from, std::size_t to)
{
    int result = 0;
    for (std::size_t i = 2 * from; i < std::min(2 * to, audio.size()); ++i)
        result = std::max(result, std::abs(int(audio[i])));
    return result;
}

} // namespace enginetest
