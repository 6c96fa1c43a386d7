// midigen play ended by SIGINT or SIGTERM while it is heard, on a private sound server: the tool
// stops its stream and exits with 128 + the signal's number, by itself, without a word.

#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"
#include "SinkLevels.h"
#include "tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <sys/wait.h>

namespace
{

using testsupport::PrivateSoundServer;

// A flute held for 8 s, passes without end: the tool never ends by itself.
const std::vector<std::string> EndlessPlay = {"play", "string", "I73,C5;800", "--set", "Loops=0"};

// Whether the last 100 ms recorded are louder than -30 dBFS.
bool heardNow(const bench::MonitorRecorder &recorder)
{
    const std::size_t frames = recorder.frames();
    const std::size_t window = bench::MonitorRecorder::Rate / 10;
    return frames > window && bench::peakIn(recorder, frames - window, frames) > bench::Above30dBFS;
}

// Whether the process has not ended yet; it stays waitable.
bool stillRunning(pid_t pid)
{
    siginfo_t info = {};
    return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

class ToolSignals : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        // CI installs it (scripts/debian-packages): there its absence is a failure.
        if (!PrivateSoundServer::installed(PrivateSoundServer::Kind::PulseAudio)) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "PulseAudio is not installed";
            GTEST_SKIP() << "PulseAudio is not installed";
        }
        // The tool, started from here, plays on it (XDG_RUNTIME_DIR).
        ASSERT_TRUE(server.start()) << "the private sound server did not start";
        ASSERT_TRUE(recorder.start());
    }

    PrivateSoundServer server;
    bench::MonitorRecorder recorder;
};

} // namespace

TEST_P(ToolSignals, PlayStopsItsStreamAndExitsWithTheSignalsStatus)
{
    const int signal = GetParam();
    bool heard = false;
    bool runningWhenSignalled = false;
    const tooltest::ProcessRun run =
        tooltest::runToolProcess(EndlessPlay, {}, {}, std::chrono::seconds(30), [&](pid_t pid) {
            // Until the flute is heard at the sink (bounded), then the signal.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!(heard = heardNow(recorder)) && std::chrono::steady_clock::now() < until &&
                   stillRunning(pid))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            runningWhenSignalled = stillRunning(pid);
            ::kill(pid, signal);
        });
    EXPECT_TRUE(heard) << "the tool was never heard: " << run.err;
    EXPECT_TRUE(runningWhenSignalled) << "the tool had ended before the signal: " << run.err;
    ASSERT_TRUE(run.finished) << "the tool did not end after " << strsignal(signal);
    EXPECT_EQ(run.signal, 0) << "ended by the signal itself, not by the tool";
    EXPECT_EQ(run.status, 128 + signal);
    EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, ToolSignals, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });
