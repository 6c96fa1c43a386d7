#include "SinkTest.h"

#include "SoundServerStart.h"

#include <algorithm>

namespace enginetest
{

void SinkTest::SetUp()
{
    START_SOUND_SERVER_OR_SKIP(server);
    ASSERT_TRUE(recorder.start());
}

void SinkTest::restartRecorder()
{
    recorder.stop();
    ASSERT_TRUE(recorder.start());
}

Samples SinkTest::recorded(std::size_t from) const
{
    const std::size_t frames = recorder.frames();
    Samples audio;
    for (std::size_t n = from; n < frames; ++n) {
        audio.push_back(recorder.sample(n, 0));
        audio.push_back(recorder.sample(n, 1));
    }
    return audio;
}

double SinkTest::levelNow(int key) const
{
    const std::size_t frames = recorder.frames();
    if (frames < Window)
        return 0;
    return amplitudeAt(recorded(frames - Window), 0, Window, noteFrequency(key));
}

double SinkTest::startTheHeldNote()
{
    EXPECT_TRUE(generator.PlayString(HeldNote));
    // A fresh null sink may hold a new stream back for a while.
    const auto sounding = [&] { return levelNow(HeldKey) > 300; };
    EXPECT_TRUE(runEventLoopUntil(sounding, HangDeadlineMs)) << "the held note was never heard";
    runEventLoop(300);
    return levelNow(HeldKey);
}

double SinkTest::nextNoteHeldFrom(std::size_t from) const
{
    const Samples audio = recorded(from);
    double best = 0;
    for (std::size_t at = 0; at + Window <= audio.size() / 2; at += Window / 4) {
        const double level = amplitudeAt(audio, at, Window, noteFrequency(NextKey));
        if (level > amplitudeAt(audio, at, Window, noteFrequency(HeldKey)))
            best = std::max(best, level);
    }
    return best;
}

} // namespace enginetest
