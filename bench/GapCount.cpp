#include "GapCount.h"

#include "SinkLevels.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench
{

WakeUpProbe::WakeUpProbe()
    : thread_([this] {
          while (!stop_.load()) {
              const double due = MonitorRecorder::now() + 0.005;
              std::this_thread::sleep_for(std::chrono::milliseconds(5));
              const double woke = MonitorRecorder::now();
              worst_ = std::max(worst_, (woke - due) * 1000.0);
              if ((woke - due) * 1000.0 > StallMs)
                  stalls_.emplace_back(due, woke);
          }
      })
{
}

void WakeUpProbe::stop()
{
    if (!thread_.joinable())
        return;
    stop_.store(true);
    thread_.join();
    std::printf("wake-up-late-max-ms %.2f\nwake-ups-late-over-10-ms %zu\n", worst_, stalls_.size());
}

namespace
{

int writeConstant(void *, int len, int, float *[], int, float *out[])
{
    std::fill(out[0], out[0] + len, 0.1f);
    std::fill(out[1], out[1] + len, 0.1f);
    return 0;
}

} // namespace

BareDriver::BareDriver() : settings_(new_fluid_settings())
{
    fluid_settings_setstr(settings_, "audio.driver", "pulseaudio");
    fluid_settings_setint(settings_, "audio.period-size", PeriodFrames);
    fluid_settings_setint(settings_, "audio.periods", Periods);
    driver_ = new_fluid_audio_driver2(settings_, &writeConstant, nullptr);
}

BareDriver::~BareDriver()
{
    if (driver_ != nullptr)
        delete_fluid_audio_driver(driver_);
    delete_fluid_settings(settings_);
}

void countGaps(const MonitorRecorder &recorder, const std::vector<double> &starts, const char *key,
               const std::vector<WakeUpProbe::Stall> &stalls)
{
    constexpr int Rate = MonitorRecorder::Rate;
    int gaps = 0, silent = 0, duringStalls = 0;
    for (const double start : starts) {
        const std::size_t from = start < 0 ? 0 : recorder.frameAt(start);
        const std::size_t sound = firstAtLeast(recorder, from, from + Rate, 1);
        if (start < 0 || sound >= from + Rate) {
            ++silent;
            continue;
        }
        std::size_t zeros = 0;
        bool risen = false;
        const std::size_t end = std::min(sound + std::size_t(0.9 * Rate), recorder.frames());
        for (std::size_t f = sound; f < end; ++f) {
            const int level = levelAt(recorder, f);
            risen = risen || level > 100;
            zeros = level == 0 ? zeros + 1 : 0;
            if (risen && zeros == 32) {
                // A gap that begins within 30 ms of a stall of the machine: the writer was held
                // up longer than the server's queue lasts.
                const double at = recorder.timeOf(f - 31);
                const bool stalled = std::any_of(stalls.begin(), stalls.end(), [at](auto s) {
                    return s.first - 0.030 <= at && at <= s.second + 0.030;
                });
                std::fprintf(stderr, "%s: a gap %.1f ms after the first sound%s\n", key,
                             double(f - 31 - sound) * 1000.0 / Rate,
                             stalled ? ", during a stall of the machine" : "");
                ++gaps;
                duringStalls += stalled ? 1 : 0;
                break;
            }
        }
    }
    std::printf("%s-requests %zu\n%s-with-gaps %d\n%s-gaps-during-stalls %d\n%s-silent %d\n", key,
                starts.size(), key, gaps, key, duringStalls, key, silent);
}

} // namespace bench
