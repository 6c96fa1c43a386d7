// The engine woken by FluidSynth's file audio driver: real time, no sound card.

#include "SynthEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

using namespace miditest;

namespace
{

// An engine woken by the file driver, writing into dir.
midiout::EngineConfig fileDriverConfig(const QTemporaryDir &dir)
{
    midiout::EngineConfig config;
    config.audioDrivers = {QStringLiteral("file")};
    config.audioFileName = dir.filePath(QStringLiteral("out.wav"));
    return config;
}

} // namespace

TEST(FileDriver, PlaysAStreamInRealTimeWithItsAttacksInTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    midiout::EngineConfig config = fileDriverConfig(dir);
    config.periodSize = 64;
    midiout::SynthEngine engine(config);
    ASSERT_TRUE(engine.canPlay()) << engine.diagnostics().toStdString();
    EXPECT_EQ(engine.audioDriverName(), QStringLiteral("file"));
    engine.setRecording(true);

    NotificationLog log;
    auto stream = engine.openStream(&log);
    ASSERT_TRUE(stream);
    stream->reset();
    ASSERT_TRUE(stream->setTimeDivision(50));
    StreamBuilder b = tonePreamble(115);
    const std::uint64_t ticks[] = {0, 50, 100};
    for (std::uint64_t tick : ticks)
        b.note(tick, 0, 76, 20);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Done) == 1; }, 5000));
    stream->stop();
    stream->reset();
    stream->close();
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Close) == 1; }, 1000));
    EXPECT_EQ(log.received, (std::vector<Notification>{Notification::Open, Notification::Position,
                                                       Notification::Done, Notification::Close}));
    pumpUntil([] { return false; }, 100); // the fade and some silence
    engine.stopAudio();

    // The stream's clock started where its tick 0 was due; every event on it, and each attack
    // in the file within 5 ms after its tick.
    const auto record = engine.record();
    ASSERT_EQ(record.size(), b.size() / 12);
    const std::uint64_t start = record.front().dueFrame;
    for (const auto &e : record) {
        EXPECT_EQ(e.dueFrame, start + e.tick * 441);
        EXPECT_LE(e.handedFrame + 64 - e.dueFrame, 64u);
    }
    std::vector<std::int16_t> audio;
    int channels = 0, rate = 0;
    ASSERT_TRUE(readWav(config.audioFileName, audio, channels, rate));
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(rate, 44100);
    const int loudest = peak(audio, 0, audio.size() / 2);
    ASSERT_GT(loudest, 1000);
    const auto found = onsets(audio, loudest / 10, loudest / 50, 4410);
    ASSERT_EQ(found.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const double ms = (double(found[i]) - double(start + ticks[i] * 441)) * 1000.0 / 44100;
        EXPECT_GE(ms, 0.0) << "attack " << i;
        EXPECT_LT(ms, 5.0) << "attack " << i;
    }
}

TEST(FileDriver, EngineWithoutAudioOutputCannotBeOpened)
{
    midiout::EngineConfig config;
    config.audioDrivers = {QStringLiteral("no-such-driver")};
    midiout::SynthEngine engine(config);
    EXPECT_TRUE(engine.hasSoundFont());
    EXPECT_FALSE(engine.hasAudioDriver());
    EXPECT_FALSE(engine.canPlay());
    NotificationLog log;
    EXPECT_EQ(engine.openStream(&log), nullptr);
    EXPECT_TRUE(engine.diagnostics().contains(QStringLiteral("no audio output")));
    pump();
    EXPECT_TRUE(log.received.empty());
}

TEST(FileDriver, StreamsStoppedAtAnyMomentEndWithOneDoneAndNothingAfterClose)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    midiout::EngineConfig config = fileDriverConfig(dir);
    config.periodSize = 64;
    midiout::SynthEngine engine(config);
    ASSERT_TRUE(engine.canPlay()) << engine.diagnostics().toStdString();

    StreamBuilder b = tonePreamble(0, true);
    for (int i = 0; i < 8; ++i)
        b.note(2 * i, 0, std::uint8_t(60 + i), 1);
    std::vector<std::unique_ptr<NotificationLog>> logs;
    for (int request = 0; request < 16; ++request) {
        logs.push_back(std::make_unique<NotificationLog>());
        NotificationLog &log = *logs.back();
        auto stream = engine.openStream(&log);
        ASSERT_TRUE(stream);
        stream->reset();
        stream->setTimeDivision(50);
        // Odd requests repeat their buffer at each Done, as a looping stream does.
        log.onNotification = [&, request](Notification n) {
            if (n == Notification::Done && request % 2 == 1 && log.count(Notification::Done) < 3) {
                stream->queue(b.data(), b.size());
                stream->restart();
            }
        };
        ASSERT_TRUE(stream->queue(b.data(), b.size()));
        ASSERT_TRUE(stream->restart());
        pumpUntil([] { return false; }, request * 7 % 60); // stops early, late and in between
        stream->stop();
        stream->reset();
        stream->close();
        ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Close) == 1; }, 1000));
        log.onNotification = nullptr;
    }
    const std::vector<std::vector<Notification>> before = [&] {
        std::vector<std::vector<Notification>> all;
        for (const auto &log : logs)
            all.push_back(log->received);
        return all;
    }();
    pumpUntil([] { return false; }, 100);
    engine.stopAudio();
    pump();
    for (std::size_t i = 0; i < logs.size(); ++i) {
        const auto &received = logs[i]->received;
        EXPECT_EQ(received, before[i]) << "request " << i << ": posted after Close";
        ASSERT_GE(received.size(), 3u);
        EXPECT_EQ(received.front(), Notification::Open);
        EXPECT_EQ(received.back(), Notification::Close);
        EXPECT_EQ(logs[i]->count(Notification::Close), 1);
        EXPECT_GE(logs[i]->count(Notification::Done), 1) << "request " << i;
        EXPECT_LE(logs[i]->count(Notification::Done), i % 2 == 1 ? 3 : 1) << "request " << i;
        EXPECT_LE(logs[i]->count(Notification::Position), logs[i]->count(Notification::Done));
    }
    EXPECT_EQ(engine.activeVoiceCount(), 0);
}

TEST(FileDriver, AnIdleEngineStopsItsDriverAndTheNextStreamStartsItAgain)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    midiout::EngineConfig config = fileDriverConfig(dir);
    config.idleAudioMs = 100;
    midiout::SynthEngine engine(config);
    ASSERT_TRUE(engine.canPlay()) << engine.diagnostics().toStdString();
    EXPECT_TRUE(engine.audioRunning());
    ASSERT_TRUE(pumpUntil([&] { return !engine.audioRunning(); }, 2000))
        << "an engine without streams renders nothing";
    EXPECT_TRUE(engine.canPlay()) << "the device can still be opened";

    NotificationLog log;
    auto stream = engine.openStream(&log);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(engine.audioRunning());
    stream->reset();
    ASSERT_TRUE(stream->setTimeDivision(50));
    StreamBuilder b = tonePreamble(115);
    b.note(0, 0, 76, 10);
    ASSERT_TRUE(stream->queue(b.data(), b.size()));
    ASSERT_TRUE(stream->restart());
    ASSERT_TRUE(pumpUntil([&] { return log.count(Notification::Done) == 1; }, 5000))
        << "the restarted driver plays the stream";
    // Open streams keep it running, also past the idle time.
    ASSERT_FALSE(pumpUntil([&] { return !engine.audioRunning(); }, 300));
    stream->stop();
    stream->reset();
    stream->close();
    stream.reset();
    EXPECT_TRUE(pumpUntil([&] { return !engine.audioRunning(); }, 2000));
}
