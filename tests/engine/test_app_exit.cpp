// The application object goes while a tone generator plays a long play string: parented to the
// application, a function-local static, or outliving it. Each scenario runs as a child process
// (app_exit_child.cpp) on the built-in synthesizer of a private sound server and on an offline
// output; the process must end by itself, with status 0, without spinning while it ends.

#include "EngineTestSupport.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"

#include <gtest/gtest.h>

#include <cstdio>

using enginetest::ChildRun;

namespace
{

// The teardown's CPU time above which the child is taken to spin. Ending a stream, joining the
// audio thread and freeing the synthesizer take a few milliseconds; a wait that pumps events in
// a loop burns the whole wall time.
constexpr double SpinCpuSeconds = 2.0;

// Runs the scenario on the output (builtin or offline) and checks what every scenario must do:
// start its stream, then end with status 0 before the deadline, without spinning.
ChildRun runScenario(const char *scenario, const char *output, const QStringList &more = {})
{
    const QStringList arguments =
        QStringList{QString::fromLatin1(scenario), QString::fromLatin1(output)} + more;
    const ChildRun child =
        enginetest::runChild(QStringLiteral(APP_EXIT_CHILD), arguments, enginetest::HangDeadlineMs);
    std::printf("%s", child.output.constData());
    EXPECT_TRUE(child.exited) << "the process did not end within "
                              << enginetest::HangDeadlineMs / 1000 << " s";
    EXPECT_EQ(child.exitCode, 0) << "signal " << child.signal;
    EXPECT_EQ(child.value("played").toDouble(), 1.0) << "the first play string did not start";
    const QList<QByteArray> teardown = child.value("teardown").split(' ');
    EXPECT_EQ(teardown.size(), 2) << "the scenario did not reach its teardown";
    if (teardown.size() == 2) {
        const double wall = child.endTime - teardown[0].toDouble();
        const double cpu = child.cpuSeconds - teardown[1].toDouble();
        std::printf("teardown: %.0f ms, CPU %.0f ms\n", wall * 1000, cpu * 1000);
        EXPECT_LT(cpu, SpinCpuSeconds) << "the process spins while it ends";
    }
    return child;
}

// The scenarios on the built-in synthesizer of a private sound server and on an offline output.
class AppExit : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        if (QByteArray(GetParam()) == "builtin")
            START_SOUND_SERVER_OR_SKIP(server_);
    }
    ChildRun run(const char *scenario) { return runScenario(scenario, GetParam()); }

private:
    testsupport::PrivateSoundServer server_;
};

} // namespace

TEST_P(AppExit, AGeneratorParentedToTheApplicationEndsWithIt)
{
    const ChildRun child = run("parented");
    EXPECT_EQ(child.value("done").toDouble(), 1.0);
}

TEST_P(AppExit, AStaticGeneratorStillPlayingWhenMainReturnsEndsWithTheProcess)
{
    const ChildRun child = run("static");
    EXPECT_EQ(child.value("done").toDouble(), 1.0);
}

TEST_P(AppExit, AGeneratorThatOutlivesTheApplicationIsRefusedAtOnceAndDestroyed)
{
    // Without an application no notification can arrive: the next request is refused (it
    // ends the old stream itself), and the destructor returns.
    const ChildRun child = run("outliving");
    EXPECT_EQ(child.value("later"), QByteArray("0.000000"));
    EXPECT_EQ(child.value("done").toDouble(), 1.0);
}

TEST_P(AppExit, UnderASecondApplicationARequestIsRefusedOrItsStreamEnds)
{
    const ChildRun child = run("secondapp");
    EXPECT_EQ(child.value("firstended").toDouble(), 1.0);
    EXPECT_FALSE(child.value("later").isEmpty()) << "the request under the second application "
                                                    "did not return";
    EXPECT_EQ(child.value("ended").toDouble(), 1.0) << "its stream never ended";
    EXPECT_EQ(child.value("done").toDouble(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Output, AppExit, ::testing::Values("builtin", "offline"),
                         [](const auto &info) { return std::string(info.param); });

TEST(AppExitDuringStartup, AProcessThatEndsWhileTheSynthesizerStartsEndsCleanly)
{
    testsupport::PrivateSoundServer server;
    START_SOUND_SERVER_OR_SKIP(server);
    // From at once to after the start-up: the exit meets every stage of it (loading the
    // library, the SoundFont, the first driver).
    for (const char *delayMs : {"0", "1", "5", "20", "80", "300"}) {
        SCOPED_TRACE(delayMs);
        const ChildRun child = runScenario("startup", "builtin", QStringList{delayMs});
        EXPECT_EQ(child.value("done").toDouble(), 1.0);
    }
}
