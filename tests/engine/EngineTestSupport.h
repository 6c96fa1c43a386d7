#pragma once

// Helpers of the engine's black-box tests: a guard that ends a hung test, event loops that run
// for a while or until something holds, child processes run with a deadline, the process's CPU
// time, and the level and spectrum of recorded or rendered audio.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace enginetest
{

// What tells a hang from a slow run on a loaded machine: never less than 10 s.
constexpr int HangDeadlineMs = 30000;

// Ends the process with a message and a failing status if it is still alive after limitMs,
// so that a test that hangs fails instead of holding up the run. Cancelled by its destructor.
class HangGuard
{
public:
    HangGuard(int limitMs, const char *what);
    ~HangGuard();
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;

private:
    std::mutex mutex_;
    std::condition_variable cancelled_;
    bool done_ = false;
    std::thread thread_;
};

// Runs this thread's event loop for ms.
void runEventLoop(int ms);
// Runs this thread's event loop until done() holds (looked at every 5 ms) or timeoutMs passes;
// returns done().
bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs);

// CLOCK_MONOTONIC in seconds, and the CPU time of this process (all threads) in seconds.
double monotonicSeconds();
double processCpuSeconds();

struct ChildRun {
    bool exited = false; // ended by itself before the deadline
    int exitCode = -1;   // when it exited normally
    int signal = 0;      // when a signal ended it
    double cpuSeconds = 0;
    double endTime = 0; // CLOCK_MONOTONIC when it was reaped
    QByteArray output;  // its standard output
    // The value of a line "key=value" of its output, empty when none.
    QByteArray value(const QByteArray &key) const;
};

// Runs program with arguments, its standard output going to a file, its standard error shared
// with this process's. A child that is still alive at the deadline is killed.
ChildRun runChild(const QString &program, const QStringList &arguments, int deadlineMs);

// Audio: interleaved stereo 16-bit samples, and their analysis on the left channel.
using Samples = std::vector<std::int16_t>;

// Frequency of a MIDI note number.
double noteFrequency(int note);
// Amplitude of the component at hz in frames [from, from + count), Hann-windowed, in sample
// units (a full-scale sine gives about 16,000).
double amplitudeAt(const Samples &audio, std::size_t from, std::size_t count, double hz,
                   double rate = 44100.0);
// The amplitude spectrum from 50 Hz to maxHz in steps of stepHz over the same window.
std::vector<double> spectrum(const Samples &audio, std::size_t from, std::size_t count,
                             double stepHz, double maxHz, double rate = 44100.0);
// Cosine similarity of two spectra of the same length: 1 for the same shape.
double similarity(const std::vector<double> &a, const std::vector<double> &b);
// Largest absolute sample of both channels in frames [from, to).
int peak(const Samples &audio, std::size_t from, std::size_t to);

} // namespace enginetest
