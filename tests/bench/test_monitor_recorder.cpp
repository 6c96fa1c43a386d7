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
#include <cstdio>
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
    // A click is looked for from 200 ms before its write, after the click found before it, so that
    // an early placement is found and told apart from a click that never reached the sink: under
    // load this writer's 3 ms queue runs dry, and now and then a click is not heard at all.
    std::vector<double> late;
    std::size_t after = 0;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "click " << i);
        const double stamp = stamps[i];
        const std::size_t from = std::max(after, recorder.frameAt(stamp - 0.200));
        const std::size_t to = recorder.frameAt(stamp + 0.250);
        const std::size_t click = bench::firstAtLeast(recorder, from, to, 16000);
        if (click >= to) {
            std::printf("click %zu did not reach the sink\n", i);
            continue;
        }
        after = click + 1;
        late.push_back((recorder.timeOf(click) - stamp) * 1000.0);
        EXPECT_GE(late.back(), -0.1) << "placed before it was written";
    }
    ASSERT_GE(late.size(), stamps.size() / 2) << "most clicks never reached the sink";
    // A stall of the machine can hold one write up; most clicks come soon after their write.
    std::sort(late.begin(), late.end());
    EXPECT_LE(late[late.size() / 2], 50.0) << "placed far later than a 3 ms queue explains";
}

} // namespace
