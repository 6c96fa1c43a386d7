// The backup file writer against its anchor, dd writing the same number of one-byte blocks.
//
// Usage: bench_backup_file FOLDER [RUNS]
// Writes the backup file into FOLDER RUNS times (default 15) through the program's writer, and
// as often runs "dd if=/dev/zero of=FILE bs=1 count=150001", alternating the two. dd's time is
// its whole run less the median of a run with count=0, so that starting the process does not
// count. Prints "writer-ms X", "dd-ms X" and "dd-start-ms X", medians in milliseconds.

#include "BackupFileWriter.h"
#include "SharedRandom.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs dd writing count one-byte blocks to file; returns its wall time in ms, or -1.
double TimeDd(const std::string &file, int count)
{
    std::string of = "of=" + file;
    std::string countArg = "count=" + std::to_string(count);
    std::string in = "if=/dev/zero";
    std::string bs = "bs=1";
    std::string quiet = "status=none";
    char *args[] = {const_cast<char *>("dd"), in.data(),    of.data(), bs.data(),
                    countArg.data(),          quiet.data(), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "dd", nullptr, nullptr, args, environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = MsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_backup_file FOLDER [RUNS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    const QString ours = folder + QStringLiteral("/writer.brains");
    const std::string theirs = (folder + QStringLiteral("/dd.brains")).toStdString();

    std::vector<double> writer, dd, ddStart;
    noggix::RandomGenerator random;
    // Every run counts, the first included, as a user's first backup would.
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        noggix::WriteBackupFile(ours, random);
        const double writerMs = MsSince(start);
        const double ddMs = TimeDd(theirs, 150001);
        const double ddStartMs = TimeDd(theirs, 0);
        if (ddMs < 0 || ddStartMs < 0) {
            std::fprintf(stderr, "bench_backup_file: dd failed\n");
            return 1;
        }
        writer.push_back(writerMs);
        dd.push_back(ddMs);
        ddStart.push_back(ddStartMs);
    }
    QFile::remove(ours);
    QFile::remove(QString::fromStdString(theirs));

    const double ddStartMedian = Median(ddStart);
    std::printf("writer-ms %.3f\n", Median(writer));
    std::printf("dd-ms %.3f\n", Median(dd) - ddStartMedian);
    std::printf("dd-start-ms %.3f\n", ddStartMedian);
    std::printf("runs %d\n", runs);
    return 0;
}
