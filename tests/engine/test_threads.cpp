// Requests from threads that the engine does not serve, on the built-in synthesizer of a private
// sound server: a std::thread's request is refused at once, and a QThread worker that tried and
// ended leaves the application's thread able to play streams that end.

#include "EngineTestSupport.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"

#include <midigen/MidiGen.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace enginetest;

namespace
{

const QByteArray ShortNote = QByteArrayLiteral("I73,C5;30");

class Threads : public ::testing::Test
{
protected:
    void SetUp() override { START_SOUND_SERVER_OR_SKIP(server_); }

    // A request on the application's thread starts a stream, and the stream ends by itself.
    void playOnTheMainThread()
    {
        TMidiGen generator;
        ASSERT_TRUE(generator.PlayString(ShortNote)) << "the application's thread is refused";
        EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs))
            << "the stream on the application's thread never ended";
    }

    // Waits for the worker to end; a worker that hangs cannot be destroyed, so the test ends.
    static void waitForTheWorker(QThread &worker)
    {
        if (worker.wait(QDeadlineTimer(HangDeadlineMs)))
            return;
        ADD_FAILURE() << "the worker did not end within " << HangDeadlineMs / 1000 << " s";
        std::fflush(stdout);
        std::_Exit(1);
    }

private:
    testsupport::PrivateSoundServer server_;
};

} // namespace

TEST_F(Threads, AStdThreadsRequestIsRefusedAtOnceAndTheMainThreadPlaysAfterwards)
{
    const HangGuard guard(2 * HangDeadlineMs, "a request from a std::thread");
    // The std::thread is the first to use the engine in this process.
    std::atomic<bool> finished = false;
    bool played = true;
    double took = 0;
    std::thread requester([&] {
        QElapsedTimer clock;
        clock.start();
        {
            TMidiGen generator;
            played = generator.PlayString(ShortNote);
        }
        took = double(clock.elapsed());
        finished = true;
    });
    QElapsedTimer waited;
    waited.start();
    while (!finished && waited.elapsed() < HangDeadlineMs)
        QThread::msleep(5);
    if (!finished) {
        ADD_FAILURE() << "PlayString on a std::thread did not return within "
                      << HangDeadlineMs / 1000 << " s";
        std::fflush(stdout);
        std::_Exit(1); // the thread cannot be joined
    }
    requester.join();
    std::printf("the std::thread's request and destructor took %.0f ms\n", took);
    EXPECT_FALSE(played) << "a request from a thread the engine does not serve is refused";

    playOnTheMainThread();
}

TEST_F(Threads, AfterAWorkerThatAskedHasEndedTheMainThreadsStreamsEnd)
{
    const HangGuard guard(3 * HangDeadlineMs,
                          "a worker's question, then the main thread's request");
    // The worker is the first to use the engine: it only asks whether it can play.
    std::unique_ptr<QThread> worker(QThread::create([] {
        TMidiGen generator;
        std::printf("on the worker: MidiAvailable %d\n", generator.MidiAvailable());
    }));
    worker->start();
    waitForTheWorker(*worker);

    playOnTheMainThread();
}

TEST_F(Threads, AWorkersRequestIsRefusedAndAfterItHasEndedTheMainThreadsStreamsEnd)
{
    const HangGuard guard(3 * HangDeadlineMs, "a worker's request, then the main thread's");
    // Atomic: QThread::wait() orders the threads through Qt's own futexes, which
    // ThreadSanitizer cannot see.
    std::atomic<bool> played = false;
    std::unique_ptr<QThread> worker(QThread::create([&played] {
        TMidiGen generator;
        played = generator.PlayString(ShortNote);
        runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs);
    }));
    worker->start();
    waitForTheWorker(*worker);
    // Only one component plays on the machine's output in a process: had the worker's request
    // been served, the main thread's component would be refused.
    EXPECT_FALSE(played) << "a request from a thread the engine does not serve is refused";

    playOnTheMainThread();
}
