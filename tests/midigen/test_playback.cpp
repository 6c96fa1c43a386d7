// The tone generator's playback state machine against a test device whose time the test
// controls: the test decides when the first event is reached and when a pass ends.

#include "TMidiGenTestAccess.h"
#include "TestOutput.h"
#include <midigen/MidiGen.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{

using testsupport::DeviceFaults;
using testsupport::DeviceLog;
using testsupport::TestOutput;

void processPosted()
{
    QCoreApplication::processEvents();
}

int count(const DeviceLog &log, const std::string &call)
{
    return int(std::count(log.calls.begin(), log.calls.end(), call));
}

// A compiled request's stream as the device's log keeps a queued buffer.
std::vector<std::uint8_t> bytesOf(const TMGCompiledRequest &request)
{
    const QByteArray stream = request.Stream();
    return {stream.begin(), stream.end()};
}

} // namespace

// Each test has an output of its own, whose owner the fixture's component becomes.
class PlaybackMachine : public ::testing::Test
{
protected:
    TestOutput output;
    std::unique_ptr<TMidiGen> gen = std::make_unique<TMidiGen>(output);

    void SetUp() override { gen->setLoops(1); }

    // Starts a note and lets the device reach its first event.
    void startSounding()
    {
        ASSERT_TRUE(gen->PlayNote(60));
        output.current->reachFirstEvent();
        processPosted();
    }
};

TEST_F(PlaybackMachine, OpensConfiguresQueuesAndStartsInThatOrder)
{
    ASSERT_TRUE(gen->PlayNote(60));
    EXPECT_EQ(output.log.calls,
              (std::vector<std::string>{"reset", "timediv 50", "queue", "restart"}));
    EXPECT_TRUE(gen->IsPlaying());
    ASSERT_EQ(output.log.queued.size(), 1u);
    EXPECT_EQ(output.log.queued[0], bytesOf(gen->CompileNote(60)));
    EXPECT_EQ(output.log.queued[0].size(), 18u * 12u);
}

// IsPlayingChanged tells each open and close once, with the state already whole: a slot that
// plays again on the close starts the next stream.
TEST_F(PlaybackMachine, IsPlayingChangedTellsOpenAndCloseAndASlotMayPlayAgain)
{
    std::vector<bool> told;
    int replays = 0;
    QObject::connect(gen.get(), &TMidiGen::IsPlayingChanged, [&](bool playing) {
        told.push_back(playing);
        EXPECT_EQ(gen->IsPlaying(), playing);
        if (!playing && replays++ == 0)
            EXPECT_TRUE(gen->PlayNote(62)) << "replayed from the slot";
    });
    startSounding();
    EXPECT_EQ(told, std::vector<bool>{true});
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    processPosted();
    EXPECT_EQ(told, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(gen->IsPlaying());
    EXPECT_EQ(output.log.opens, 2);
    gen->Stop();
    gen.reset(); // the destructor's close tells nobody
    EXPECT_EQ(told, (std::vector<bool>{true, false, true}));
}

// An output may tell the Close inside close(), so inside the handling of the notification that
// ends the stream: the change is told once all the same.
TEST_F(PlaybackMachine, ACloseToldInsideCloseIsToldOnce)
{
    output.faults.instant = true;
    std::vector<bool> told;
    QObject::connect(gen.get(), &TMidiGen::IsPlayingChanged,
                     [&](bool playing) { told.push_back(playing); });
    ASSERT_TRUE(gen->PlayNote(60));
    processPosted(); // the pass's end: the stream ends and its Close comes inside close()
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    EXPECT_FALSE(gen->IsPlaying());
    ASSERT_TRUE(gen->PlayNote(62)) << "ready for the next request";
    processPosted();
    EXPECT_EQ(told, (std::vector<bool>{true, false, true, false}));
}

TEST_F(PlaybackMachine, PlayPlaysNoteInOctaveLimitedTo127)
{
    const auto playedNote = [this] {
        const auto &buffer = output.log.queued.back();
        return buffer.at(16 * 12 + 9); // the note on behind the program change
    };
    ASSERT_TRUE(gen->Play());
    EXPECT_EQ(playedNote(), 48) << "mgC in octave 4";
    output.current->reachFirstEvent();
    processPosted();
    gen->setNote(TMidiGen::mgB);
    gen->setOctave(10);
    ASSERT_TRUE(gen->Play());
    EXPECT_EQ(playedNote(), 127) << "131 limited";
}

TEST_F(PlaybackMachine, LoopsCountPassesAndZeroRepeatsUntilStopped)
{
    gen->setLoops(2);
    startSounding();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    EXPECT_EQ(count(output.log, "queue"), 2);
    EXPECT_TRUE(gen->IsPlaying()) << "IsPlaying holds across passes";
    ASSERT_TRUE(output.current->endPass());
    processPosted(); // done: the stream ends
    processPosted(); // close
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_EQ(count(output.log, "queue"), 2);
    EXPECT_EQ(output.log.closes, 1);
    EXPECT_TRUE(TMidiGenTestAccess::streamBuffer(*gen).empty())
        << "the buffer is released when the stream ends";

    gen->setLoops(0);
    startSounding();
    for (int pass = 0; pass < 5; ++pass) {
        ASSERT_TRUE(output.current->endPass());
        processPosted();
    }
    EXPECT_TRUE(gen->IsPlaying());
    EXPECT_EQ(count(output.log, "queue"), 2 + 6);
    gen->Stop();
    processPosted();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_EQ(output.log.closes, 2);
}

TEST_F(PlaybackMachine, ZeroLoopsAlsoEndsAtTheNextRequest)
{
    gen->setLoops(0);
    startSounding();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    ASSERT_TRUE(gen->PlayString("C,E,G"));
    EXPECT_EQ(output.log.opens, 2);
    EXPECT_EQ(output.log.closes, 1) << "the old stream closed before the new one opened";
    EXPECT_TRUE(gen->IsPlaying());
}

TEST_F(PlaybackMachine, NewRequestStopsTheSoundingStreamAndStartsFromItsOwnPreamble)
{
    gen->setLoops(3);
    startSounding();
    output.log.calls.clear();
    gen->setChannel(TMidiGen::mgCh05);
    ASSERT_TRUE(gen->PlayString("C"));
    // stop (done), end of the stream, close; then the new stream.
    EXPECT_EQ(output.log.calls, (std::vector<std::string>{"stop", "stop", "reset", "close", "reset",
                                                          "timediv 50", "queue", "restart"}));
    ASSERT_EQ(output.log.queued.size(), 2u);
    const auto &fresh = output.log.queued[1];
    // The new buffer opens with reset all controllers on its own play channel, with callback.
    ASSERT_GE(fresh.size(), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(fresh.begin() + 8, fresh.begin() + 12),
              (std::vector<std::uint8_t>{0xB4, 0x79, 0x00, 0x40}));
    EXPECT_EQ(fresh, bytesOf(gen->CompileString("C")));
}

TEST_F(PlaybackMachine, StopBeforeTheFirstEventLetsThePassEndWithoutRepeating)
{
    gen->setLoops(3);
    ASSERT_TRUE(gen->PlayNote(60));
    gen->Stop();
    EXPECT_EQ(count(output.log, "stop"), 0) << "a stream that has not sounded is not stopped";
    output.current->reachFirstEvent();
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_EQ(count(output.log, "queue"), 1);

    // With no stream open, Stop changes nothing but the continue flag.
    gen->Stop();
    EXPECT_EQ(output.log.closes, 1);
    EXPECT_TRUE(gen->PlayNote(62));
}

TEST_F(PlaybackMachine, NestedRequestDuringAWaitIsRefused)
{
    startSounding();
    // Queued before the second request, so it runs inside that request's wait for the close.
    int nestedResult = -1;
    QObject nester;
    QMetaObject::invokeMethod(
        &nester, [&] { nestedResult = gen->PlayNote(64) ? 1 : 0; }, Qt::QueuedConnection);
    ASSERT_TRUE(gen->PlayNote(62));
    EXPECT_EQ(nestedResult, 0);
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNone) << "the outer request, the last one, started";
    EXPECT_EQ(output.log.opens, 2);
    // Until the new stream reaches its first event, further requests are refused too.
    EXPECT_FALSE(gen->PlayNote(65));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgBusy);
    EXPECT_EQ(gen->LastError(), "the previous request has not begun to sound yet");
    output.current->reachFirstEvent();
    processPosted();
    EXPECT_TRUE(gen->PlayNote(65));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNone);
    EXPECT_TRUE(gen->LastError().isEmpty());
}

TEST_F(PlaybackMachine, FirstEventOfAStoppedStreamDoesNotReleaseTheNextRequest)
{
    startSounding();
    // The sounding stream reaches its first event again (a new pass) just as the next request
    // stops it: that notification is handled inside the request and must be ignored.
    output.current->reachFirstEvent();
    ASSERT_TRUE(gen->PlayNote(62));
    EXPECT_FALSE(gen->PlayNote(64)) << "the new stream has not reached its first event";
    output.current->reachFirstEvent();
    processPosted();
    EXPECT_TRUE(gen->PlayNote(64));
}

TEST_F(PlaybackMachine, AStreamWhoseOutputVanishesBeforeItsFirstEventLeavesTheComponentUsable)
{
    ASSERT_TRUE(gen->PlayNote(60));
    processPosted();
    output.current->vanish();
    processPosted();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    EXPECT_EQ(output.log.closes, 0) << "the stream closed by itself";
    EXPECT_TRUE(gen->PlayNote(62)) << "not refused for ever";
}

TEST_F(PlaybackMachine, SetDeviceStoresTheNumberEvenWhenItDoesNotExist)
{
    EXPECT_TRUE(gen->SetDevice(-1));
    EXPECT_TRUE(gen->SetDevice(0));
    EXPECT_FALSE(gen->SetDevice(1)) << "the device count is 1";
    output.log.probed.clear();
    EXPECT_FALSE(gen->MidiAvailable());
    EXPECT_EQ(output.log.probed, std::vector<int>{1}) << "the stored number is tried";
    EXPECT_FALSE(gen->PlayNote(60));
    EXPECT_TRUE(gen->SetDevice(-1));
    EXPECT_TRUE(gen->PlayNote(60));
}

// SetDevice(99) while a stream of this component is open: MidiAvailable() still says true, yet
// the next request asks the device of its own stream first and is refused before it touches the
// open one, in every phase where a request would otherwise end it.
TEST_F(PlaybackMachine, ADeviceThatCannotBeOpenedIsRefusedBeforeTheOpenStreamIsTouched)
{
    output.faults.closesWhenHeard = true; // so that the ended stream is still open
    struct Case {
        const char *name;
        std::function<void()> reach;
    };
    const Case cases[] = {
        {"sounding", [&] { startSounding(); }},
        {"stopped",
         [&] {
             startSounding();
             gen->Stop();
         }},
        {"ended, its sound on its way",
         [&] {
             startSounding();
             ASSERT_TRUE(output.current->endPass());
             processPosted();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(gen->SetDevice(0));
        c.reach();
        ASSERT_TRUE(gen->IsPlaying());
        EXPECT_FALSE(gen->SetDevice(99));
        EXPECT_TRUE(gen->MidiAvailable()) << "a stream of this component is open";
        output.log.calls.clear();
        output.log.probed.clear();
        const int opens = output.log.opens;
        EXPECT_FALSE(gen->PlayNote(62));
        EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNoOutput);
        EXPECT_EQ(output.log.probed, std::vector<int>{99}) << "the next open's device is asked";
        EXPECT_TRUE(output.log.calls.empty()) << "the open stream was not touched";
        EXPECT_EQ(output.log.opens, opens);
        EXPECT_TRUE(gen->IsPlaying()) << "it plays on";
        // It ends as it would have without the request.
        output.current->endPass();
        processPosted();
        processPosted();
        output.current->heard();
        processPosted();
        EXPECT_FALSE(gen->IsPlaying());
    }

    // A device that passes the probe but does not open: the request has begun, so the stream
    // that sounded has ended.
    output.faults.closesWhenHeard = false;
    ASSERT_TRUE(gen->SetDevice(0));
    startSounding();
    output.faults.openFails = true;
    EXPECT_FALSE(gen->PlayNote(62));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgOpenFailed);
    EXPECT_FALSE(gen->IsPlaying());
}

TEST_F(PlaybackMachine, DestructionWhileSoundingClosesTheStreamFirst)
{
    gen->setLoops(0);
    startSounding();
    output.log.calls.clear();
    gen.reset();
    EXPECT_EQ(output.log.calls, (std::vector<std::string>{"stop", "reset", "close"}));
    EXPECT_EQ(output.log.closes, 1);
}

TEST_F(PlaybackMachine, DestructionBeforeTheFirstEventDoesNotWaitForThePass)
{
    gen->setLoops(0);
    ASSERT_TRUE(gen->PlayNote(60));
    gen.reset(); // would wait for ever if it waited for the pass to end
    EXPECT_EQ(output.log.closes, 1);
}

TEST_F(PlaybackMachine, WithoutAUsableDeviceEveryRequestIsRefusedAndNothingChanges)
{
    output.faults.probeFails = true;
    gen->setVolume(42);
    EXPECT_FALSE(gen->MidiAvailable());
    EXPECT_FALSE(gen->PlayNote(60));
    EXPECT_FALSE(gen->Play());
    EXPECT_FALSE(gen->PlayString("C,D,E"));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNoOutput);
    EXPECT_EQ(output.log.opens, 0);
    EXPECT_TRUE(output.log.calls.empty());
    EXPECT_TRUE(TMidiGenTestAccess::streamBuffer(*gen).empty());
    EXPECT_EQ(gen->Volume(), 42);
    output.faults.probeFails = false;
    EXPECT_TRUE(gen->PlayNote(60)) << "nothing was left half-done";
}

// Each way a request can pass the pre-play step and start nothing leaves the component ready,
// its stream closed and its buffer released, so the next request plays and destruction returns.
TEST_F(PlaybackMachine, RequestsThatStartNothingLeaveTheComponentUsable)
{
    struct Case {
        const char *name;
        bool DeviceFaults::*fault;
        int expectedCloses; // streams opened and closed again by the failed request
        TMidiGen::TMGRefusal refusal;
    };
    const Case cases[] = {
        {"open fails", &DeviceFaults::openFails, 0, TMidiGen::mgOpenFailed},
        {"time division fails", &DeviceFaults::timeDivisionFails, 1, TMidiGen::mgStartFailed},
        {"queue fails", &DeviceFaults::queueFails, 1, TMidiGen::mgStartFailed},
        {"restart fails", &DeviceFaults::restartFails, 1, TMidiGen::mgStartFailed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        output.log = {};
        output.faults.*c.fault = true;
        EXPECT_FALSE(gen->PlayNote(60));
        EXPECT_EQ(gen->LastRefusal(), c.refusal);
        EXPECT_FALSE(gen->IsPlaying());
        EXPECT_TRUE(TMidiGenTestAccess::streamBuffer(*gen).empty());
        EXPECT_EQ(output.log.closes, c.expectedCloses);
        output.faults.*c.fault = false;
        ASSERT_TRUE(gen->PlayNote(60)) << "the next request plays";
        EXPECT_EQ(output.log.queued.back().size(), 18u * 12u) << "no old bytes appended";
        output.current->reachFirstEvent();
        ASSERT_TRUE(output.current->endPass());
        processPosted();
        processPosted();
        EXPECT_FALSE(gen->IsPlaying());
    }

    // A play string whose list comes out empty.
    EXPECT_FALSE(gen->PlayString(",,,"));
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNothingToPlay);
    EXPECT_TRUE(gen->PlayNote(60));
}

TEST_F(PlaybackMachine, OnlyTheOutputOwnerPlaysAndOthersStayUsable)
{
    startSounding(); // gen is (or becomes) the output owner
    TMidiGen other(output);
    output.log.calls.clear();
    EXPECT_FALSE(other.PlayNote(60));
    EXPECT_FALSE(other.PlayString("C"));
    EXPECT_EQ(other.LastRefusal(), TMidiGen::mgOutputOwned);
    EXPECT_EQ(gen->LastRefusal(), TMidiGen::mgNone);
    EXPECT_EQ(output.log.opens, 1) << "the other component opened nothing";
    EXPECT_TRUE(gen->IsPlaying()) << "the owner plays on";
    ASSERT_TRUE(output.current->endPass());
    processPosted();
    processPosted();
    EXPECT_FALSE(gen->IsPlaying());
    gen.reset(); // the owner goes: its output is free
    EXPECT_TRUE(other.PlayNote(60)) << "the refusals left the other component busy";
}

TEST_F(PlaybackMachine, TheOwnerIsKeptPerOutputUntilItIsDestroyed)
{
    startSounding();
    // A component on an output of its own plays there, beside the first one's.
    TestOutput own;
    TMidiGen other(own);
    EXPECT_TRUE(other.PlayNote(60));
    EXPECT_EQ(own.log.opens, 1);
    // Once the owner is gone, another component plays on its output; a component beside a live
    // owner is still refused.
    auto later = std::make_unique<TMidiGen>(output);
    EXPECT_FALSE(later->PlayNote(60));
    gen.reset();
    EXPECT_TRUE(later->PlayNote(60)) << "the owner's destruction did not release the output";
    TMidiGen beside(output);
    EXPECT_FALSE(beside.PlayNote(60));
    EXPECT_EQ(beside.LastRefusal(), TMidiGen::mgOutputOwned);
}
