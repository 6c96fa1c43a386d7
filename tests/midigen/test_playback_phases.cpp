// The tone generator's phases where an output takes its time: an open answered later, or with a
// Close alone, a close told once the stream has been heard, and calls from a thread the
// component does not serve.

#include "TestOutput.h"
#include <midigen/MidiGen.h>

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using testsupport::TestOutput;

void processPosted()
{
    QCoreApplication::processEvents();
}

class Phases : public ::testing::Test
{
protected:
    TestOutput output;
    std::unique_ptr<TMidiGen> gen = std::make_unique<TMidiGen>(output);
    std::vector<bool> told;

    void SetUp() override
    {
        QObject::connect(gen.get(), &TMidiGen::IsPlayingChanged,
                         [this](bool playing) { told.push_back(playing); });
    }
    // Runs f from the event loop that the next request waits in.
    static void duringTheWait(const std::function<void()> &f)
    {
        QTimer::singleShot(0, QCoreApplication::instance(), f);
    }
    // A stream that sounds and then plays out its last pass, so that it is closed and waits
    // to be heard.
    void endUnheard()
    {
        ASSERT_TRUE(gen->PlayNote(60));
        output.current->reachFirstEvent();
        ASSERT_TRUE(output.current->endPass());
        processPosted(); // done: stopped, reset and closed; its Close waits for the sound
        processPosted();
    }
};

} // namespace

TEST_F(Phases, AnOpenAnsweredLaterIsAwaitedAndANestedRequestRefused)
{
    output.faults.opensLater = true;
    int nested = -1;
    duringTheWait([&] {
        nested = gen->PlayNote(64) ? 1 : 0;
        EXPECT_TRUE(output.log.calls.empty()) << "the stream was used before it opened";
        output.current->answerOpen(true);
    });
    ASSERT_TRUE(gen->PlayNote(60));
    EXPECT_EQ(nested, 0) << "a request inside the wait for the open";
    EXPECT_EQ(output.log.calls,
              (std::vector<std::string>{"reset", "timediv 50", "queue", "restart"}));
    EXPECT_EQ(told, std::vector<bool>{true});
}

TEST_F(Phases, AnOpenAnsweredWithCloseAloneIsRefusedAndTheComponentStaysUsable)
{
    output.faults.opensLater = true;
    duringTheWait([&] { output.current->answerOpen(false); });
    EXPECT_FALSE(gen->PlayNote(60));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNoOutput);
    EXPECT_TRUE(output.log.calls.empty());
    EXPECT_TRUE(told.empty()) << "nothing opened, nothing to tell";
    EXPECT_FALSE(gen->IsPlaying());

    output.faults.opensLater = false;
    EXPECT_TRUE(gen->PlayNote(60)) << "the next request plays";
}

TEST_F(Phases, IsPlayingEndsWhenTheOutputHasHeardTheLastPass)
{
    output.faults.closesWhenHeard = true;
    endUnheard();
    EXPECT_TRUE(gen->IsPlaying()) << "ended before its sound was heard";
    EXPECT_EQ(told, std::vector<bool>{true});
    output.current->heard();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

TEST_F(Phases, ARequestStopOrDestructionWhileTheEndIsUnheardCutsIt)
{
    output.faults.closesWhenHeard = true;
    endUnheard();
    // A request does not wait for the old sound: it cuts it and plays at once.
    output.log.calls.clear();
    ASSERT_TRUE(gen->PlayNote(62));
    EXPECT_EQ(output.log.calls.front(), "stop");
    EXPECT_EQ(output.log.opens, 2);

    output.current->reachFirstEvent();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    gen->Stop(); // the user wants silence now
    processPosted();
    EXPECT_FALSE(gen->IsPlaying()) << "Stop did not cut the unheard end";

    ASSERT_TRUE(gen->PlayNote(64));
    output.current->reachFirstEvent();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    gen.reset(); // would wait for the sound up to its bound otherwise
    EXPECT_EQ(output.log.closes, 3);
}

// The thread rule: a call from another thread is refused at once and changes nothing, whatever
// the component is doing; that thread reads why from LastRefusal().
TEST_F(Phases, CallsFromAnotherThreadChangeNothing)
{
    ASSERT_TRUE(gen->PlayNote(60)); // busy: its first event is not reached yet
    const auto calls = output.log.calls;
    bool played = true, setDevice = true;
    TMidiGen::TMGRefusal why = TMidiGen::mgNone;
    std::thread other([&] {
        played = gen->PlayNote(62) || gen->Play() || gen->PlayString("C");
        setDevice = gen->SetDevice(7);
        gen->Stop();
        why = gen->LastRefusal();
    });
    other.join();
    EXPECT_FALSE(played);
    EXPECT_FALSE(setDevice);
    EXPECT_EQ(why, TMidiGen::mgWrongThread) << "answered as if it were the busy component's";
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNone) << "the other thread wrote the refusal";
    EXPECT_EQ(output.log.calls, calls) << "the other thread's Stop reached the stream";
    EXPECT_TRUE(gen->IsPlaying());
    output.current->reachFirstEvent();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_TRUE(gen->MidiAvailable()) << "the other thread's device number was stored";
}

// A slot that makes a request on IsPlayingChanged(false): the request plays when the stream
// ended by itself or by Stop, and is refused as busy when a request is replacing the stream
// (the slot runs inside that request, which then plays its own stream).
TEST_F(Phases, ASlotsRequestOnFalsePlaysAfterAnEndOrStopAndIsBusyInsideAReplacement)
{
    struct Answer {
        bool played;
        TMidiGen::TMGRefusal refusal;
    };
    std::vector<Answer> answers;
    bool armed = false;
    QObject::connect(gen.get(), &TMidiGen::IsPlayingChanged, [&](bool playing) {
        if (playing || !armed)
            return;
        armed = false;
        const bool played = gen->PlayNote(72);
        answers.push_back({played, gen->LastRefusal()});
    });
    const auto untilAnswered = [&](std::size_t count) {
        for (int round = 0; round < 10 && answers.size() < count; ++round)
            processPosted();
        ASSERT_EQ(answers.size(), count) << "no IsPlayingChanged(false) reached the slot";
    };
    const auto sound = [&] {
        output.current->reachFirstEvent();
        processPosted();
    };

    ASSERT_TRUE(gen->PlayNote(60));
    sound();
    armed = true;
    ASSERT_TRUE(output.current->endPass()); // its last pass: it ends by itself
    untilAnswered(1);
    EXPECT_TRUE(answers[0].played) << "after a natural end: " << answers[0].refusal;
    EXPECT_TRUE(gen->IsPlaying());

    sound();
    armed = true;
    gen->Stop();
    untilAnswered(2);
    EXPECT_TRUE(answers[1].played) << "after Stop: " << answers[1].refusal;
    EXPECT_TRUE(gen->IsPlaying());
    EXPECT_EQ(output.log.opens, 3);

    sound();
    armed = true;
    EXPECT_TRUE(gen->PlayNote(64)) << "the replacing request";
    ASSERT_EQ(answers.size(), 3U) << "the replaced stream's false came after the request";
    EXPECT_FALSE(answers[2].played) << "a request nested in a replacement";
    EXPECT_EQ(answers[2].refusal, TMidiGen::mgBusy);
    EXPECT_EQ(output.log.opens, 4) << "the replacing request's stream alone opened";
    EXPECT_TRUE(gen->IsPlaying());
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNone);
}
