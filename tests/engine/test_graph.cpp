// The MIDI instruments of the PipeWire graph as devices, on a private PipeWire with a test
// instrument of the test's own (another connection, as another program's): the instrument is
// listed while it is there; a stream reaches it whole, every event at its tick's frame, on every
// pass, and leaves it reset; a stop, an instrument that quits mid-stream, a change of device
// between requests and a second component on another device.

#include "EngineTestSupport.h"
#include "PrivateSoundServer.h"
#include "SoundServerStart.h"
#include "TestInstrument.h"

#include <midigen/MidiGen.h>
#include <midiout/MidiMessages.h>
#include <midiout/Output.h>

#include <QSignalSpy>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using namespace enginetest;
using testsupport::TestInstrument;

namespace
{

midiout::Output &devices()
{
    return midiout::Output::system();
}

// The device whose name begins with the port's name, or -2 while it is not listed.
int deviceOf(const QString &portName)
{
    const int count = devices().deviceCount();
    for (int device = 1; device < count; ++device)
        if (devices().deviceName(device).startsWith(portName))
            return device;
    return -2;
}

// The messages a stream's bytes carry, in order, with their ticks from the stream's start.
struct Message {
    std::uint64_t tick;
    QByteArray bytes;
};
std::vector<Message> messagesOf(const QByteArray &stream, std::uint64_t firstTick = 0)
{
    std::vector<Message> messages;
    std::uint64_t tick = firstTick;
    for (qsizetype at = 0; at < stream.size(); at += midiout::StreamEvent::Size) {
        const auto event = midiout::StreamEvent::decode(
            reinterpret_cast<const std::uint8_t *>(stream.constData() + at));
        tick += event.delta;
        QByteArray bytes;
        bytes.append(char(event.status()));
        bytes.append(char(event.data1()));
        if ((event.status() & 0xF0) != midiout::ProgramChangeStatus)
            bytes.append(char(event.data2()));
        messages.push_back({tick, bytes});
    }
    return messages;
}

// The platform's reset of every channel: sustain off, all notes off, all sound off, controllers.
std::vector<QByteArray> resetMessages()
{
    std::vector<QByteArray> reset;
    for (int channel = 0; channel < 16; ++channel)
        for (const char controller : {64, 123, 120, 121}) {
            const char message[3] = {char(0xB0 + channel), controller, 0};
            reset.push_back(QByteArray(message, 3));
        }
    return reset;
}

bool endsWithReset(const std::vector<TestInstrument::Event> &events)
{
    const auto reset = resetMessages();
    if (events.size() < reset.size())
        return false;
    for (std::size_t i = 0; i < reset.size(); ++i)
        if (events[events.size() - reset.size() + i].bytes != reset[i])
            return false;
    return true;
}

// From `closing` on, the events hold the reset that ends the stream and nothing else: once,
// or twice in two cycles. The second copy is for a graph that drops a cycle unseen (the port
// writer's own test holds it to two); such a drop may also take the first.
void expectClosingResets(const std::vector<TestInstrument::Event> &events, std::size_t closing)
{
    const auto reset = resetMessages();
    ASSERT_TRUE(events.size() == closing + reset.size() ||
                events.size() == closing + 2 * reset.size())
        << events.size() << " events, the stream's reset from " << closing;
    for (std::size_t i = closing; i < events.size(); ++i)
        EXPECT_EQ(events[i].bytes.toHex(), reset[(i - closing) % reset.size()].toHex()) << i;
    EXPECT_TRUE(events.size() == closing + reset.size() ||
                events.back().frame > events[closing].frame)
        << "both copies in one cycle";
}

// Whether from `first` on the events are the stream's messages, each at its tick's frame from
// the first's; what is off goes to `off`, a message at a time.
bool atTheirFrames(const std::vector<TestInstrument::Event> &events, std::size_t first,
                   const std::vector<Message> &expected,
                   const std::function<void(const std::string &)> &off = {})
{
    if (events.size() < first + expected.size()) {
        if (off)
            off(std::to_string(events.size()) + " events, fewer than the stream's " +
                std::to_string(expected.size()) + " from " + std::to_string(first));
        return false;
    }
    bool hold = true;
    const double framesPerTick = events[first].rate / 100;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto &event = events[first + i];
        const double frames = double(event.frame - events[first].frame);
        const double tickFrames = expected[i].tick * framesPerTick;
        if (event.bytes == expected[i].bytes && frames == tickFrames)
            continue;
        hold = false;
        if (off)
            off("message " + std::to_string(i) +
                " of the stream: " + event.bytes.toHex().toStdString() + " at frame " +
                std::to_string(frames) + ", not " + expected[i].bytes.toHex().toStdString() +
                " at frame " + std::to_string(tickFrames));
    }
    return hold;
}

void expectAtTheirFrames(const std::vector<TestInstrument::Event> &events, std::size_t first,
                         const std::vector<Message> &expected)
{
    atTheirFrames(events, first, expected, [](const std::string &off) { ADD_FAILURE() << off; });
}

bool hasNoteOn(const std::vector<TestInstrument::Event> &events)
{
    for (const auto &event : events)
        if (event.bytes.size() == 3 && (std::uint8_t(event.bytes[0]) & 0xF0) == 0x90 &&
            event.bytes[2] != 0)
            return true;
    return false;
}

class GraphDevices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        START_SOUND_SERVER_OR_SKIP(server);
        instrument = std::make_unique<TestInstrument>(QStringLiteral("test-synth"));
        ASSERT_TRUE(instrument->connected());
        ASSERT_TRUE(runEventLoopUntil([this] { return deviceOf(instrument->portName()) > 0; },
                                      HangDeadlineMs))
            << "the instrument was not listed";
        device = deviceOf(instrument->portName());
    }

    // Plays on the instrument until the generator is done; the events the instrument got.
    std::vector<TestInstrument::Event> playWhole(TMidiGen &generator, const QByteArray &text)
    {
        QSignalSpy ended(&generator, &TMidiGen::IsPlayingChanged);
        EXPECT_TRUE(generator.PlayString(text)) << generator.LastError().toStdString();
        EXPECT_TRUE(runEventLoopUntil(
            [&] { return !ended.isEmpty() && !ended.last().at(0).toBool(); }, HangDeadlineMs));
        // The instrument's own thread takes in the cycles that carried the closing reset: both
        // had left as the stream ended, so two more of its cycles have them.
        const std::uint64_t cycles = instrument->cycles() + 2;
        EXPECT_TRUE(runEventLoopUntil(
            [&] { return instrument->cycles() >= cycles && endsWithReset(instrument->events()); },
            10000));
        return instrument->events();
    }

    // Whether a stream that just started is past its first note: the note is at the
    // instrument, or the graph skipped the instrument in a cycle, which may have carried it,
    // and a second has gone.
    bool pastFirstEvent()
    {
        const double started = monotonicSeconds();
        return runEventLoopUntil(
            [&] {
                return hasNoteOn(instrument->events()) ||
                       (instrument->missedCycles() > 0 && monotonicSeconds() - started > 1);
            },
            10000);
    }

    testsupport::PrivateSoundServer server{testsupport::PrivateSoundServer::Kind::PipeWire};
    std::unique_ptr<TestInstrument> instrument;
    int device = -2;
};

TEST_F(GraphDevices, AreListedBesideTheBuiltinSynthesizerWhileTheyAreThere)
{
    EXPECT_TRUE(devices().deviceName(0).startsWith(QStringLiteral("Built-in synthesizer")));
    EXPECT_EQ(devices().deviceName(device),
              instrument->portName() + QStringLiteral(" (Test instrument)"));
    // One that joins later is listed after it; the numbers stay while nothing changes.
    TestInstrument second(QStringLiteral("second-synth"));
    ASSERT_TRUE(runEventLoopUntil([&] { return deviceOf(second.portName()) > 0; }, 10000));
    EXPECT_GT(deviceOf(second.portName()), device);
    EXPECT_EQ(deviceOf(instrument->portName()), device);
    // One that goes is no longer listed, and its number no longer opens.
    instrument.reset();
    EXPECT_TRUE(runEventLoopUntil([] { return deviceOf("test-synth:input") == -2; }, 10000));
    EXPECT_EQ(deviceOf(second.portName()), device);
    TMidiGen generator;
    EXPECT_FALSE(generator.SetDevice(devices().deviceCount()));
    EXPECT_FALSE(generator.PlayNote(60));
}

TEST_F(GraphDevices, GetEveryEventOfAStreamAtItsTicksFrameOnEveryPassAndAResetAtTheEnd)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    generator.setLoops(2);
    const QByteArray text = QByteArrayLiteral("I17,C4,20;E;G;C5,10;I48,G4");
    // The reset of the open, both passes, the second from the tick after the first's last
    // event, and the reset that ends the stream.
    const auto reset = resetMessages();
    const auto pass = messagesOf(generator.CompileString(text).Stream());
    auto expected = pass;
    for (const Message &message :
         messagesOf(generator.CompileString(text).Stream(), pass.back().tick + 1))
        expected.push_back(message);

    const std::size_t first = reset.size(); // the stream's messages follow the open's reset
    // A loaded machine makes the graph skip a cycle now and then, or run late, which delays or
    // drops what was written for it, at times without a gap the instrument sees. The writer
    // places each event by its tick alone (its own test holds that at every phase of the
    // cycle), so a fault of ours shows in every run: the frames must hold in one of up to eight
    // runs, and two runs that the graph ran whole and that were both off fail the test.
    std::vector<TestInstrument::Event> events; // of the last run the graph ran whole
    int off = 0;
    bool held = false;
    for (int run = 0; run < 8 && !held; ++run) {
        instrument->clear();
        const auto played = playWhole(generator, text);
        ASSERT_TRUE(endsWithReset(played));
        if (instrument->missedCycles() != 0)
            continue;
        events = played;
        held = atTheirFrames(events, first, expected);
        off += held ? 0 : 1;
    }
    if (!held && off < 2) {
        std::fprintf(stderr, "%d of 8 runs the graph ran whole, off: the frames are not checked\n",
                     off);
        return;
    }
    expectClosingResets(events, reset.size() + expected.size());
    for (std::size_t i = 0; i < reset.size(); ++i)
        EXPECT_EQ(events[i].bytes.toHex(), reset[i].toHex()) << "message " << i;
    expectAtTheirFrames(events, first, expected);
}

TEST_F(GraphDevices, StopSendsTheResetAndEndsTheStreamAtOnce)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    QSignalSpy playing(&generator, &TMidiGen::IsPlayingChanged);
    ASSERT_TRUE(generator.PlayString("I17,C4;1000")); // a note of 10 s
    // Past its first event (a stop before it only makes the pass the last), and its cycle's
    // report taken in. A fixed wait fell short under ThreadSanitizer beside other tests.
    ASSERT_TRUE(pastFirstEvent());
    runEventLoop(200);
    const double stoppedAt = monotonicSeconds();
    generator.Stop();
    ASSERT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs));
    ASSERT_TRUE(runEventLoopUntil([&] { return endsWithReset(instrument->events()); }, 10000));
    const auto events = instrument->events();
    EXPECT_LT(events.back().time - stoppedAt, 1.0); // not at the note's end, 10 s on
    // The note was never ended by a note off of its own: the reset ends it.
    for (const auto &event : events)
        EXPECT_FALSE(event.bytes.size() == 3 && event.bytes[0] == char(0x90) &&
                     event.bytes[2] == 0);
}

TEST_F(GraphDevices, AnInstrumentThatQuitsMidStreamEndsItAsALostServerDoes)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    ASSERT_TRUE(generator.PlayString("I17,C4;1000"));
    ASSERT_TRUE(pastFirstEvent());
    instrument.reset();
    EXPECT_TRUE(runEventLoopUntil([&] { return !generator.IsPlaying(); }, HangDeadlineMs));
    // The next request on the number it had is refused before anything happens.
    EXPECT_FALSE(generator.PlayNote(60));
}

TEST_F(GraphDevices, ADeviceChosenBetweenRequestsTakesTheNextOneAndAnotherComponentIsRefused)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    playWhole(generator, "I17,C4,10");
    const std::size_t onInstrument = instrument->events().size();
    ASSERT_GT(onInstrument, 0u);
    // The built-in synthesizer takes the next request; the instrument hears nothing of it.
    ASSERT_TRUE(generator.SetDevice(0));
    QSignalSpy playing(&generator, &TMidiGen::IsPlayingChanged);
    ASSERT_TRUE(generator.PlayString("I17,C4,10"));
    ASSERT_TRUE(runEventLoopUntil([&] { return playing.size() >= 2; }, HangDeadlineMs));
    EXPECT_EQ(instrument->events().size(), onInstrument);
    // The component that last played owns the output: another one is refused, on any device.
    TMidiGen other;
    ASSERT_TRUE(other.SetDevice(device));
    EXPECT_FALSE(other.PlayNote(60));
    EXPECT_EQ(other.LastRefusal(), TMidiGen::mgOutputOwned);
    EXPECT_EQ(instrument->events().size(), onInstrument);
}

} // namespace

namespace
{

TEST_F(GraphDevices, AreFoundAgainOnceTheGraphsDaemonIsBack)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    playWhole(generator, "I17,C4,10");
    // The daemon goes: its instruments go with it, and nothing waits for it.
    instrument.reset();
    server.kill();
    EXPECT_TRUE(runEventLoopUntil([] { return devices().deviceCount() == 1; }, 10000));
    EXPECT_FALSE(generator.PlayNote(60));
    // It comes back, with an instrument: the instrument is listed and plays.
    ASSERT_TRUE(server.start());
    instrument = std::make_unique<TestInstrument>(QStringLiteral("test-synth"));
    ASSERT_TRUE(
        runEventLoopUntil([this] { return deviceOf(instrument->portName()) > 0; }, HangDeadlineMs));
    ASSERT_TRUE(generator.SetDevice(deviceOf(instrument->portName())));
    const auto events = playWhole(generator, "I17,C4,10");
    EXPECT_TRUE(endsWithReset(events)); // the stream reached it, to its end
}

// Whether our node's output is linked to the instrument's port, as the graph's link tool lists it.
bool linkedTo(const QString &port)
{
    const ChildRun links = runChild(QStandardPaths::findExecutable(QStringLiteral("pw-link")),
                                    {QStringLiteral("--links")}, HangDeadlineMs);
    return links.output.contains(QByteArrayLiteral("|-> ") + port.toUtf8());
}

TEST_F(GraphDevices,
       StaysLinkedAWhileAfterAStreamThenLetsTheGraphSleepAndTheNextStreamArrivesAsAtFirst)
{
    TMidiGen generator;
    ASSERT_TRUE(generator.SetDevice(device));
    const QByteArray text = QByteArrayLiteral("I17,C4,20;E;G");
    const auto expected = messagesOf(generator.CompileString(text).Stream());
    playWhole(generator, text);
    runEventLoop(1000);
    EXPECT_TRUE(linkedTo(instrument->portName())) << "unlinked at once after the stream";
    runEventLoop(6000); // idle for longer than the node stays linked
    EXPECT_FALSE(linkedTo(instrument->portName())) << "an idle node keeps the graph running";
    instrument->clear();
    const auto events = playWhole(generator, text);
    const std::size_t reset = resetMessages().size();
    // On a loaded machine a skipped cycle drops what it carried: the messages and frames are
    // held to the stream in a run the graph ran whole, as in the test above.
    if (instrument->missedCycles() != 0)
        return;
    expectClosingResets(events, reset + expected.size());
    expectAtTheirFrames(events, reset, expected);
}

} // namespace
