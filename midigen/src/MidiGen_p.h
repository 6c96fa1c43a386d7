#pragma once

// TMidiGenPrivate: everything a TMidiGen holds, behind its one private pointer, so that fields
// can be added without changing the component's size. The playback state machine and its steps
// are its members; the public calls hold their own bodies.

#include "NoteEvent.h"
#include "StreamEncoder.h"
#include <midigen/MidiGen.h>

#include <QObject>

#include <memory>

namespace midiout
{
class Output;
class Stream;
enum class Notification;
} // namespace midiout

class TMidiGenPrivate
{
    Q_DECLARE_PUBLIC(TMidiGen)

public:
    using TMGNote = TMidiGen::TMGNote;
    using TMGInstrument = TMidiGen::TMGInstrument;
    using TMGChannel = TMidiGen::TMGChannel;

    // Every setting at its default, idle, playing on output; the notification receiver becomes
    // a child of q.
    TMidiGenPrivate(TMidiGen *q, midiout::Output &output);
    ~TMidiGenPrivate();

    // mgNone on the application object's thread; else why a call from here is refused
    // (mgWrongThread, or mgNoApplication without an application object). Such a call changes
    // nothing.
    static TMidiGen::TMGRefusal threadRefusal();
    // Whether a call on this thread is served: the application object's thread.
    static bool onApplicationThread();
    // Records why the request in progress is refused; returns false for the caller to return.
    bool refuse(TMidiGen::TMGRefusal reason);
    // Refuses a request that has left Idle: the component is Idle again, ready for the next.
    bool refuseRequest(TMidiGen::TMGRefusal reason);
    // Ends a play request: a request that started its stream clears the refusal.
    bool settle(bool started);

    // The compile side of the play requests, which reads the settings and changes nothing.
    // The event list that PlayNote(note) plays, note limited with ClampSetting.
    midigen::EventList noteList(qint32 note) const;
    // The sorted event list that PlayString(text) plays, appended to list; returns the
    // bend-allowed flag.
    bool ParsePlayString(const QByteArray &text, midigen::EventList &list) const;
    // What a request of list and flag becomes, its stream encoded as AssembleStream encodes it.
    TMGCompiledRequest compile(const midigen::EventList &list, bool bendAllowed) const;

    // The private part of q, for the library's own tests.
    static TMidiGenPrivate *get(TMidiGen *q) { return q->d_func(); }
    static const TMidiGenPrivate *get(const TMidiGen *q) { return q->d_func(); }

    // The next value of the process-wide instance counter (1 for the first component).
    static quint32 takeInstanceNumber();

    // What a component does with its stream: one phase at a time. The transitions, event by
    // event, are listed at the top of MidiGenPlayback.cpp, beside the functions that make them.
    enum class Phase : quint8 {
        Idle,      // no stream; a request may start
        Preparing, // a request runs and no stream is open (it is assembled, or its start failed)
        Replacing, // a request told the previous stream to stop and waits for its Done
        Clearing,  // a request ended the previous stream and waits for its Close
        Opening,   // the request's stream was opened; its Open has not come yet
        Starting,  // open, its first event not reached yet: requests are refused
        Sounding,  // open and past its first event
        Stopping,  // Stop told it to stop; its Done ends it
        Ending,    // ended (stopped, reset, closed); its Close has not come yet
    };

    // The events of the state machine, each one switch over the phase.
    // A play request's first step; false refuses the request.
    bool PrepareToPlay();
    // A play request's second step: takes over list, assembles the stream buffer from it and
    // starts the stream; true when the stream was started. The records are released whatever
    // the result.
    bool AssembleAndPlay(midigen::EventList list, bool bendAllowed);
    // The notifications of the open stream, then IsPlayingChanged() if IsPlaying changed.
    void handleNotification(midiout::Notification notification);
    void opened();
    void firstEventReached();
    void passEnded();
    void closed();
    // Stop(): the current pass is the last.
    void stopAfterPass();
    // Destruction, and a start that failed: ends the open stream, if any, at once, and returns
    // when its close has been handled.
    void endStreamAndWait();

    // The playback steps.
    // IsPlaying: from the Open to the Close of a stream.
    bool isPlaying() const;
    // Whether a stream is open or being opened.
    bool hasStream() const { return phase_ != Phase::Idle && phase_ != Phase::Preparing; }
    // Appends the preamble and the encoded list to the stream buffer (midigen::EncodeStream),
    // on the play channel Channel; the list is released.
    void AssembleStream(midigen::EventList list, bool bendAllowed);
    // Empties the stream buffer.
    void releaseStreamBuffer();
    // The end of a pass: plays the buffer again while passes remain; false on the last.
    bool repeatPass();
    // Ends the open stream: returns its buffer, silences the device, releases the buffer and
    // closes the stream; the close notification follows.
    void endStream();
    // Undoes a start that failed after the open: ends the stream, waits for its close and makes
    // the component ready for the next request.
    bool abandonStartedStream();
    // Handles events, sleeping while none arrive, until done() holds.
    template <typename Predicate> void waitUntil(Predicate done);

    TMidiGen *q_ptr;

    // Settings, one field of the published width each.
    qint32 volume_ = TMidiGen::DefaultVolume;
    qint32 pan_ = TMidiGen::DefaultPan;
    qint32 reverb_ = TMidiGen::DefaultReverb;
    qint32 chorus_ = TMidiGen::DefaultChorus;
    bool sustain_ = TMidiGen::DefaultSustain;
    qint32 modulation_ = TMidiGen::DefaultModulation;
    qint32 pitchBend_ = TMidiGen::DefaultPitchBend;
    qint32 pbDelay_ = TMidiGen::DefaultPBDelay;
    qint32 pbDuration_ = TMidiGen::DefaultPBDuration;
    quint32 duration_ = TMidiGen::DefaultDuration;
    TMGNote note_ = TMidiGen::DefaultNote;
    qint32 octave_ = TMidiGen::DefaultOctave;
    TMGInstrument instrument_ = TMidiGen::DefaultInstrument;
    TMGChannel channel_ = TMidiGen::DefaultChannel;
    quint32 loops_ = TMidiGen::DefaultLoops;

    bool designing_ = false;
    TMidiGen::RangeMessageHook rangeMessageHook_;

    // Playback state.
    midiout::Output &output_;                 // the devices this component plays on
    std::unique_ptr<midiout::Stream> stream_; // the open stream, null while none is open
    QObject *notificationReceiver_; // child of the component; receives the stream's notifications
    Phase phase_ = Phase::Idle;
    bool toldPlaying_ = false; // what IsPlayingChanged() told last
    qint32 device_ = -1;       // output device of the next open; -1 = the default device
    quint32 instanceNumber_;   // from the process-wide instance counter
    quint32 loopCounter_ = 0;  // passes still to play, 0 = endless, 1 = the last (or stopped)
    TMidiGen::TMGRefusal refusal_ = TMidiGen::mgNone; // why the last play request was refused
    midigen::StreamBuffer streamBuffer_;              // the assembled stream events
};
