// A thousand play requests of every kind through the real synthesizer, rendered offline: single
// notes, play strings, stops, refused requests and components destroyed while they sound. Run
// under LeakSanitizer (scripts/check-sanitizers) it shows that nothing leaks.

#include "SynthRenderer.h"
#include <midigen/MidiGen.h>
#include <midiout/OfflineOutput.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{

constexpr std::size_t Block = midiout::SynthRenderer::BlockFrames;

// Renders about 58 ms, handling notifications between blocks: long enough for a stopped stream
// to fade out and for the next one to reach its first event.
void renderAWhile(midiout::OfflineOutput &output)
{
    for (int blocks = 0; blocks < 40; ++blocks) {
        output.render(Block);
        QCoreApplication::processEvents();
    }
}

} // namespace

TEST(ManyRequests, AThousandRequestsOfEveryKindLeaveNothingBehind)
{
    midiout::OfflineOutput output;
    ASSERT_TRUE(output.probe(0));
    auto owner = std::make_unique<TMidiGen>(output);
    owner->setLoops(2);

    int started = 0;
    int refused = 0;
    int requests = 0;
    for (int round = 0; requests < 1000; ++round) {
        switch (round % 6) {
        case 0:
            started += owner->PlayNote(40 + round % 40);
            requests += 1;
            break;
        case 1:
            started += owner->PlayString("I94,C,E;5,G;10,100;I31,50;C5");
            requests += 1;
            break;
        case 2:
            // Refused: the previous request has not begun to sound.
            started += owner->PlayNote(60);
            refused += !owner->PlayString("C,D");
            requests += 2;
            break;
        case 3: {
            // Another component: refused by the owner rule, destroyed while the owner sounds.
            TMidiGen other(output);
            refused += !other.PlayNote(60);
            started += owner->PlayNote(72);
            requests += 2;
            break;
        }
        case 4:
            started += owner->PlayString("C;3,E;3,G;3");
            owner->Stop();
            requests += 1;
            break;
        case 5:
            // An empty play string starts nothing.
            refused += !owner->PlayString(" ,, ");
            requests += 1;
            break;
        }
        renderAWhile(output);
    }
    // Eight requests a cycle of six rounds: five started, three refused (nested, owner rule,
    // empty play string); 1,000 requests are 125 cycles.
    EXPECT_EQ(requests, 1000);
    EXPECT_EQ(started, 5 * 125);
    EXPECT_EQ(refused, 3 * 125);

    // Destroyed while it sounds: the stream closes before the destructor returns.
    ASSERT_TRUE(owner->PlayNote(60));
    renderAWhile(output);
    ASSERT_TRUE(owner->IsPlaying());
    owner.reset();
    output.render(32 * Block);
}
