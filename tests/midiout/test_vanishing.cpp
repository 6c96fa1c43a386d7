// The sound server going away under a stream that sounds: a private PulseAudio server is killed
// by its pid and started again. The stream must end by itself with every notification, and the
// next stream after the restart must play.

#include "EngineOutput.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"
#include "TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace miditest;

namespace
{

// Opens a stream on the engine and, once it has opened, plays a held organ note (5 s) on it.
std::unique_ptr<midiout::Stream> playOrgan(testsupport::EngineOutput &engine, NotificationLog &log,
                                           const StreamBuilder &b)
{
    auto stream = engine.open(0, &log);
    // It can play once its Open has come: the sink may still be connecting.
    if (stream && pumpUntil([&] { return log.count(Notification::Open) == 1; }, 10000)) {
        stream->reset();
        stream->setTimeDivision(50);
        stream->queue(b.data(), b.size());
        stream->restart();
    }
    return stream;
}

} // namespace

TEST(VanishingOutput, AStreamWhoseSoundServerDiesEndsByItselfAndTheNextOnePlays)
{
    testsupport::PrivateSoundServer server;
    START_SOUND_SERVER_OR_SKIP(server);
    midiout::EngineConfig config;
    config.realTime = true;
    testsupport::EngineOutput engine(config);
    ASSERT_TRUE(engine.probe(0)) << engine.diagnostics().toStdString();
    StreamBuilder b = tonePreamble(19); // a church organ, held for 5 s
    b.note(0, 0, 60, 500);

    NotificationLog log;
    auto stream = playOrgan(engine, log, b);
    ASSERT_TRUE(stream);
    log.onNotification = [&](Notification n) {
        if (n == Notification::Done) // what the tone generator does at the end of a pass
            stream->close();
    };
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Position) == 1; }, 10000));
    // Sounding: the clock runs (an idle null sink may hold a new stream back for a while).
    const auto started = engine.synthesizerFrames();
    ASSERT_TRUE(pumpUntil([&] { return engine.synthesizerFrames() > started + 4410; }, 10000));

    server.kill();
    QElapsedTimer noticed;
    noticed.start();
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Close) == 1; }, 10000))
        << "the stream never ended";
    std::printf("the stream ended %lld ms after the server was killed\n", noticed.elapsed());
    EXPECT_EQ(log.received, (std::vector<Notification>{Notification::Open, Notification::Position,
                                                       Notification::Done, Notification::Close}));
    EXPECT_FALSE(engine.engine.device.waitsForEnd(true)) << "a lost sink still plays";
    stream.reset();

    // While no server can be reached a stream ends with Close alone; once it is back, the next
    // stream plays.
    NotificationLog refused;
    auto unheard = engine.open(0, &refused);
    ASSERT_TRUE(unheard);
    EXPECT_TRUE(pumpUntil([&] { return refused.count(Notification::Close) == 1; }, 10000));
    EXPECT_EQ(refused.received, std::vector<Notification>{Notification::Close});
    unheard.reset();
    ASSERT_TRUE(server.start());
    NotificationLog later;
    auto next = playOrgan(engine, later, b);
    ASSERT_TRUE(next) << engine.diagnostics().toStdString();
    EXPECT_TRUE(pumpUntil([&] { return later.count(Notification::Position) == 1; }, 10000));
    const auto frames = engine.synthesizerFrames();
    EXPECT_TRUE(pumpUntil([&] { return engine.synthesizerFrames() > frames + 4410; }, 10000))
        << "the sample clock runs again";
    next->stop();
    next->reset();
    next->close();
    EXPECT_TRUE(pumpUntil([&] { return later.count(Notification::Close) == 1; }, 10000));
}
