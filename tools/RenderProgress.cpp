#include "RenderProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace tool
{

namespace
{

constexpr auto FirstShown = std::chrono::seconds(1);
constexpr auto Interval = std::chrono::milliseconds(250);
// The clock is read once in this many updates: an update comes every few microseconds.
constexpr unsigned UpdatesPerLook = 64;

// seconds as M:SS, or H:MM:SS from an hour on.
QByteArray clockTime(double seconds)
{
    const auto whole = std::uint64_t(std::max(0.0, std::round(seconds)));
    const auto twoDigits = [](std::uint64_t n) {
        return QByteArray::number(n).rightJustified(2, '0');
    };
    if (whole >= 3600)
        return QByteArray::number(whole / 3600) + ':' + twoDigits(whole / 60 % 60) + ':' +
               twoDigits(whole % 60);
    return QByteArray::number(whole / 60) + ':' + twoDigits(whole % 60);
}

// The line for renderedFrames of tuneFrames rendered in elapsed seconds.
QByteArray progressLine(std::uint64_t renderedFrames, std::uint64_t tuneFrames, int sampleRate,
                        double elapsed)
{
    const std::uint64_t done = std::min(renderedFrames, tuneFrames);
    const int percent = tuneFrames == 0 ? 100 : int(done * 100 / tuneFrames);
    const double speed = elapsed > 0 ? double(renderedFrames) / sampleRate / elapsed : 0;
    QByteArray line = "midigen: rendered " + QByteArray::number(percent) + "% of " +
                      clockTime(double(tuneFrames) / sampleRate);
    if (speed > 0) {
        line += ", " + QByteArray::number(speed, 'f', speed < 10 ? 1 : 0) + "x real time, " +
                clockTime(double(tuneFrames - done) / sampleRate / speed) + " left";
    }
    return line;
}

} // namespace

RenderProgress::RenderProgress(std::uint64_t tuneFrames, int sampleRate)
    : terminal_(::isatty(STDERR_FILENO) == 1), tuneFrames_(tuneFrames), sampleRate_(sampleRate),
      start_(Clock::now()), next_(start_ + FirstShown)
{
}

RenderProgress::~RenderProgress()
{
    clear();
}

void RenderProgress::update(std::uint64_t renderedFrames)
{
    if (!terminal_ || ++calls_ % UpdatesPerLook != 0)
        return;
    const Clock::time_point now = Clock::now();
    if (now < next_)
        return;
    next_ = now + Interval;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const QByteArray line = progressLine(renderedFrames, tuneFrames_, sampleRate_, elapsed);
    // Blanks over what is left of a longer line before.
    const QByteArray padding(std::max<qsizetype>(0, shown_ - line.size()), ' ');
    std::fprintf(stderr, "\r%s%s", line.constData(), padding.constData());
    std::fflush(stderr);
    shown_ = line.size();
}

void RenderProgress::clear()
{
    if (shown_ == 0)
        return;
    std::fprintf(stderr, "\r%s\r", QByteArray(shown_, ' ').constData());
    std::fflush(stderr);
    shown_ = 0;
}

} // namespace tool
