// The sink recorder of the sound benchmarks places what it records on CLOCK_MONOTONIC. Every
// first-sound figure rests on that placement never coming out early: a click written at a known
// time must not be placed before that time.

#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"
#include "SinkLevels.h"
#include "SoundServerStart.h"

#include <pulse/simple.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace
{

using bench::MonitorRecorder;
constexpr int Rate = MonitorRecorder::Rate;
constexpr int ChunkFrames = 64;

// Plays silence into the default sink in chunks of 64 frames behind a queue of two chunks, so
// that what is written sounds within about 3 ms; every 200th chunk (about 0.3 s) begins with a
// full-scale click. Returns the CLOCK_MONOTONIC time just before each click was written.
std::vector<double> writeClicks(int clicks)
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, Rate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = 2 * ChunkFrames * 4;
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    int error = 0;
    pa_simple *stream = pa_simple_new(nullptr, "recorder-test", PA_STREAM_PLAYBACK, nullptr,
                                      "clicks", &format, nullptr, &attr, &error);
    if (stream == nullptr)
        return {};
    std::vector<std::int16_t> silence(2 * ChunkFrames, 0), click = silence;
    click[0] = click[1] = 30000;
    std::vector<double> stamps;
    for (int chunk = 1; int(stamps.size()) < clicks || chunk % 200 != 0; ++chunk) {
        const bool isClick = chunk % 200 == 0 && int(stamps.size()) < clicks;
        if (isClick)
            stamps.push_back(MonitorRecorder::now());
        pa_simple_write(stream, (isClick ? click : silence).data(), ChunkFrames * 4, &error);
    }
    pa_simple_drain(stream, &error);
    pa_simple_free(stream);
    return stamps;
}

TEST(MonitorRecorder, PlacesClicksNeverBeforeTheyWereWrittenAndSoonAfter)
{
    testsupport::PrivateSoundServer server;
    START_SOUND_SERVER_OR_SKIP(server);
    MonitorRecorder recorder;
    ASSERT_TRUE(recorder.start());
    const std::vector<double> stamps = writeClicks(10);
    recorder.stop();
    ASSERT_EQ(stamps.size(), 10u);
    std::vector<double> late;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "click " << i);
        const double stamp = stamps[i];
        // Looked for from 50 ms before the write, so that an early placement would be found.
        const std::size_t from = recorder.frameAt(stamp - 0.050);
        const std::size_t click = bench::firstAtLeast(recorder, from, from + Rate / 4, 16000);
        ASSERT_LT(click, from + Rate / 4) << "a click did not reach the sink";
        late.push_back((recorder.timeOf(click) - stamp) * 1000.0);
        EXPECT_GE(late.back(), -0.1) << "placed before it was written";
    }
    // A stall of the machine can hold one write up; most clicks come soon after their write.
    std::sort(late.begin(), late.end());
    EXPECT_LE(late[late.size() / 2], 50.0) << "placed far later than a 3 ms queue explains";
}

} // namespace
