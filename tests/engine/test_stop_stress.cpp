// Hundreds of alternating Stop() and PlayString() calls with play strings of varied lengths, so
// that the stream buffer is reallocated between requests, on the built-in synthesizer of a
// private sound server. It is meant for the sanitizer builds (scripts/check-sanitizers): a
// buffer that the audio thread still reads while the next request is encoded into it is a data
// race under ThreadSanitizer and a use after free under AddressSanitizer.

#include "EngineTestSupport.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"

#include <midigen/MidiGen.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

using namespace enginetest;

namespace
{

constexpr int Rounds = 400;

// A play string of 1 to 120 notes, 10 to 50 ms apart, on a random melodic instrument.
QByteArray randomPlayString(std::mt19937 &random)
{
    static const char *const names[] = {"C", "D", "E", "F", "G", "A", "B", "C#", "F#"};
    QByteArray text = "I" + QByteArray::number(random() % 128);
    const int notes = 1 + int(random() % 120);
    for (int n = 0; n < notes; ++n)
        text += ',' + QByteArray::number(1 + random() % 5) + ';' + names[random() % 9] +
                QByteArray::number(3 + random() % 4) + ';' + QByteArray::number(1 + random() % 8);
    return text;
}

} // namespace

TEST(StopAndRequest, HundredsOfStopsAndRequestsOfVariedLengthsEndCleanly)
{
    const HangGuard guard(240000, "the stop-and-request run");
    testsupport::PrivateSoundServer server;
    START_SOUND_SERVER_OR_SKIP(server);
    TMidiGen generator;
    std::mt19937 random(16);
    int started = 0;
    for (int round = 0; round < Rounds; ++round) {
        if (generator.PlayString(randomPlayString(random)))
            ++started;
        // The stop lands anywhere from before the first event to well into the stream; now and
        // then a stream is left to play and the next request interrupts it.
        runEventLoop(int(random() % 2 == 0 ? random() % 80 : random() % 10));
        if (random() % 4 != 0)
            generator.Stop();
        runEventLoop(int(random() % 6));
    }
    generator.Stop();
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs))
        << "the last stream never ended";
    std::printf("%d of %d requests started a stream\n", started, Rounds);
    // A request that comes before the previous stream has sounded is refused; many must start,
    // or the run has tested nothing.
    EXPECT_GE(started, Rounds / 20);
    // The generator is still usable: a last request plays to its end.
    ASSERT_TRUE(generator.PlayString("I0,C5;10"));
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs));
}
