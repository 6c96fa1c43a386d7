#pragma once

// The MIDI output layer: devices that play buffers of MIDI stream events and report their
// progress as events posted to a receiver on the receiver's thread.
//
// The rules for callers:
// - Thread: an output and its streams serve the thread of the application object alone; their
//   notifications arrive there through its event loop.
// - Memory: Stream::queue copies the caller's data, so the caller may reuse or free its memory
//   once queue returns.
// - Output owner: which component plays on an output is the tone generator's rule (see
//   <midigen/MidiGen.h>); an output serves whoever opens a stream on it.

#include <midiout/Export.h>
#include <midiout/MidiMessages.h>

#include <QEvent>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

class QObject;

namespace midiout
{

// What a stream reports to its receiver.
enum class Notification {
    Open,     // the stream has opened and can play (posted after Output::open)
    Position, // the event carrying StreamEvent::CallbackFlag has been played (on every pass)
    Done,     // the queued buffer has played out, or was returned by stop()
    Close,    // the stream has closed, once what it played has been heard; nothing follows it.
              // A Close without an Open: the device could not start the stream after all
};

// Posted to the receiver of a stream, always through QCoreApplication::postEvent, so it arrives
// on the receiver's thread; also posted on failure paths, so a wait for it cannot hang.
class MIDIOUT_EXPORT NotificationEvent : public QEvent
{
public:
    explicit NotificationEvent(Notification notification);
    static QEvent::Type eventType();
    // The notification event that event is, or null for any other event.
    static const NotificationEvent *from(const QEvent *event);
    Notification notification() const { return notification_; }

private:
    Notification notification_;
};

// One open stream on a device. All calls come from the receiver's thread. A stream starts
// paused; time runs once restart() has been called. One tick lasts tempo / time division
// (500,000 us per quarter note, fixed).
class MIDIOUT_EXPORT Stream
{
public:
    virtual ~Stream() = default;

    // Silences every note at once (sustained ones too, with a fade of a few milliseconds) and
    // resets the controllers of all 16 channels. Queued data stays queued.
    virtual void reset() = 0;
    // Sets ticks per quarter note; false for a value that is not positive.
    virtual bool setTimeDivision(int ticksPerQuarter) = 0;
    // Queues a buffer of stream events (length a multiple of StreamEvent::Size). The stream plays
    // a copy: the caller may change or free its memory once queue() returns. False when a buffer
    // is already queued or the length is 0 or not a multiple of 12. The first event of a buffer
    // queued after a pass has ended plays at the tick after that pass's last event at the earliest.
    virtual bool queue(const std::uint8_t *data, std::size_t length) = 0;
    // Starts or resumes the stream's clock; the first tick of a fresh start is due at once.
    // queue() and restart() return false until Open has been posted, and after close().
    virtual bool restart() = 0;
    // Silences every note as reset() does, returns the queued buffer with a Done notification
    // (none when nothing is queued) and pauses the stream; a later queue() starts afresh. On a
    // closed stream whose Close has not come yet, cuts what is left to be heard: Close at once.
    virtual void stop() = 0;
    // Closes the stream: nothing more is played or posted but the Close notification, which
    // comes once what the stream played has been heard at the sound server's sink.
    virtual void close() = 0;
};

// A set of output devices, numbered 0 .. deviceCount() - 1; -1 names device 0.
class MIDIOUT_EXPORT Output
{
public:
    virtual ~Output() = default;

    // The devices of this machine: device 0 is the built-in synthesizer.
    static Output &system();

    // What deviceNumber() gives when no device has the name.
    static constexpr int NoDevice = -2;

    // Number of devices; asked afresh every time.
    virtual int deviceCount() = 0;
    // A one-line human-readable name, empty for a device that does not exist.
    virtual QString deviceName(int device) = 0;
    // The number that the device called name has now (numbers move as devices come and go,
    // names stay): the first of 0 .. deviceCount() - 1 whose deviceName() is name, or begins
    // with name followed by " (", so that a graph port is found by its "node:port" without the
    // description in brackets after it. NoDevice when none is; an empty name names none.
    int deviceNumber(const QString &name);
    // Whether a stream could be opened on the device now: for the built-in synthesizer, it has
    // (or is loading) a SoundFont and a sound server library; whether a server answers is
    // known only once a stream is opened. Never waits for the sound server.
    virtual bool probe(int device) = 0;
    // Opens a stream that posts its notifications to receiver. Open follows once the device can
    // play (at once, or when the built-in synthesizer and its sound server are ready), or Close
    // alone when it turns out that it cannot. Null when the device does not exist or cannot be
    // opened (nothing is posted then). Never waits for the sound server.
    virtual std::unique_ptr<Stream> open(int device, QObject *receiver) = 0;
    // Starts in the background what the devices need before a first stream (the built-in
    // synthesizer loads its SoundFont); a component calls it when it is created.
    virtual void prepare() {}

private:
    // Kept for the layout of version 2.0, where it held the tone generator's output owner.
    [[maybe_unused]] std::uint32_t reserved_ = 0;
};

// Starts building the built-in synthesizer (device 0 of Output::system()) on a thread of its own
// (it loads the SoundFont and connects to the sound server) and returns at once; later calls, and
// calls without an application object, do nothing. The engine lives until the process ends and
// serves the application object's thread alone; its audio stops when the application object is
// destroyed, and starts again for a later one.
MIDIOUT_EXPORT void StartBuiltinSynth();

// Chooses the SoundFonts that the built-in synthesizer tries, in order (the first that loads is
// used), in place of DefaultSoundFonts(); an empty list chooses DefaultSoundFonts() again. It
// takes effect when the synthesizer is built (at StartBuiltinSynth(), or when a component first
// needs it), so a program calls it before then: once the synthesizer is built it changes
// nothing and returns false.
MIDIOUT_EXPORT bool SetBuiltinSoundFonts(const QStringList &soundFonts);

// The SoundFonts a synthesizer tries, in order: the system's General MIDI SoundFont
// (/usr/share/sounds/sf2/default-GM.sf2), its compressed alternative
// (/usr/share/sounds/sf3/default-GM.sf3), then the other SoundFonts of the first one's folder.
MIDIOUT_EXPORT QStringList DefaultSoundFonts();

} // namespace midiout
