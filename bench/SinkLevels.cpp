#include "SinkLevels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace bench
{

int levelAt(const MonitorRecorder &recorder, std::size_t n)
{
    return std::max(std::abs(int(recorder.sample(n, 0))), std::abs(int(recorder.sample(n, 1))));
}

std::size_t firstAtLeast(const MonitorRecorder &recorder, std::size_t from, std::size_t to,
                         int level)
{
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f)
        if (levelAt(recorder, f) >= level)
            return f;
    return to;
}

std::size_t quietFrom(const MonitorRecorder &recorder, std::size_t from, std::size_t to, int level)
{
    std::size_t quiet = from;
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f)
        if (levelAt(recorder, f) >= level)
            quiet = f + 1;
    return quiet;
}

std::vector<std::size_t> attacksIn(const MonitorRecorder &recorder, std::size_t from,
                                   std::size_t to)
{
    constexpr std::size_t Window = 64;
    constexpr int AttackLevel = 1843, BetweenLevel = 733;
    std::vector<std::size_t> found;
    // The quiet stretch last seen, in windows, and the windows of sound since it ended. The rise
    // from quiet to the attack's level may straddle two windows: where the windows fall must not
    // decide whether an attack is heard.
    std::size_t quietWindows = 7;
    std::size_t soundWindows = 0;
    for (std::size_t w = from; w + Window <= std::min(to, recorder.frames()); w += Window) {
        const int peak = peakIn(recorder, w, w + Window);
        if (peak <= BetweenLevel) {
            quietWindows = soundWindows == 0 ? quietWindows + 1 : 1;
            soundWindows = 0;
            continue;
        }
        ++soundWindows;
        if (peak >= AttackLevel && quietWindows >= 7 && soundWindows <= 2 &&
            (found.empty() || w >= found.back() + MonitorRecorder::Rate * 60 / 1000))
            found.push_back(firstAtLeast(recorder, w, w + Window, AttackLevel));
    }
    return found;
}

int peakIn(const MonitorRecorder &recorder, std::size_t from, std::size_t to)
{
    int peak = 0;
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f)
        peak = std::max(peak, levelAt(recorder, f));
    return peak;
}

std::vector<std::int16_t> samplesOf(const MonitorRecorder &recorder, std::size_t from,
                                    std::size_t to)
{
    std::vector<std::int16_t> out;
    for (std::size_t f = from; f < std::min(to, recorder.frames()); ++f) {
        out.push_back(recorder.sample(f, 0));
        out.push_back(recorder.sample(f, 1));
    }
    return out;
}

void printStats(const char *key, std::vector<double> values)
{
    if (values.empty()) {
        std::printf("%s-median n/a\n", key);
        return;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const double p90 = values[std::size_t(std::ceil(0.9 * double(n))) - 1];
    std::printf("%s-median %.2f\n%s-p90 %.2f\n%s-min %.2f\n%s-max %.2f\n%s-count %zu\n", key,
                median, key, p90, key, values.front(), key, values.back(), key, n);
}

} // namespace bench
