#pragma once

// What a play request of a TMidiGen becomes before anything plays: its sorted event list
// (TMGNoteEvent), the bend-allowed flag and the MIDI stream that the component hands to its
// output, with what the stream's size limit cut; and that stream as a Standard MIDI File.
// TMidiGen::CompileNote and TMidiGen::CompileString make one; PlayNote and PlayString play
// exactly what they give.

#include <midigen/Export.h>

#include <QByteArray>
#include <QList>
#include <QSharedDataPointer>
#include <QString>
#include <QtGlobal>

// One event of a play request's event list: a program change, a note on or a note off at a
// time of the stream. A plain record, as every play request builds it; the list is sorted by
// time, a program change before the notes of the same time.
struct TMGNoteEvent {
    // What an event does. The stream's encoding skips any other value of kind.
    enum TMGEventKind : quint8 {
        mgProgramChange = 6, // value: an instrument ordinal 0..174 (TMidiGen::TMGInstrument)
        mgNoteOn = 8,        // value: a note number 0..127, see value
        mgNoteOff = 9,       // ends the note of the same value and channel
    };

    qint32 time = 0; // ticks of 10 ms from the start of the stream, 0..2,147,483,647
    quint8 kind = 0; // a TMGEventKind
    // Program change: the instrument ordinal. Notes: the MIDI note number 0..127; or, on the
    // percussion channel 9 of a request whose own channel is not 9, the ordinal 128..174 of a
    // percussion sound, which the stream plays as percussion key ordinal - 93.
    qint32 value = 0;
    quint8 channel = 0; // MIDI channel 0..15; 9 (TMidiGen::mgCh10) is the percussion channel

    friend bool operator==(const TMGNoteEvent &, const TMGNoteEvent &) = default;
};

class TMGCompiledRequestData;

// A play request compiled: what PlayNote(note) or PlayString(text) of a component would play
// with the component's settings as they were at the compile, without playing it.
//
// It holds the sorted event list (Events()), the bend-allowed flag (BendAllowed()), the stream
// of 12-byte MIDI stream events (Stream()) and what the stream's limit of MaxStreamEvents events
// cut from the list (NotesLeftOut(), NoteEndsLost()); StandardMidiFile() writes the stream as a
// file that any MIDI player or sequencer opens.
//
// An immutable value, implicitly shared: copies are cheap (a long play string's list may hold
// hundreds of thousands of events) and its size is one pointer, so fields can be added in later
// versions without breaking programs built against this one. A default-constructed one is an
// empty request: no events, nothing to play. It may be copied and read on any thread.
class MIDIGEN_EXPORT TMGCompiledRequest
{
public:
    // Bytes of one stream event: delta time, stream identifier 0 and the event word, three
    // little-endian 32-bit words (see midiout::StreamEvent).
    static constexpr qsizetype StreamEventSize = 12;
    // A stream holds at most this many events (65,532 bytes), its preamble of 15 included.
    static constexpr qsizetype MaxStreamEvents = 5461;

    // An empty request: no events, BendAllowed() false, an empty stream.
    TMGCompiledRequest();
    TMGCompiledRequest(const TMGCompiledRequest &other);
    TMGCompiledRequest(TMGCompiledRequest &&other) noexcept;
    TMGCompiledRequest &operator=(const TMGCompiledRequest &other);
    TMGCompiledRequest &operator=(TMGCompiledRequest &&other) noexcept;
    ~TMGCompiledRequest();
    void swap(TMGCompiledRequest &other) noexcept { d.swap(other.d); }

    // The sorted event list: the times, kinds, values and channels of the request's program
    // changes and notes, before the stream's limit. Empty for a play string that yields no event.
    QList<TMGNoteEvent> Events() const;
    // Whether the stream may carry the pitch-bend ramp (added when PitchBend is not 0 as
    // well): true for PlayNote, and for a play string that is one chord of one length.
    bool BendAllowed() const;
    // Whether the list holds a note. A request without one still plays when its list holds an
    // event: a list of program changes alone selects the sounds, and nothing is heard.
    bool HasNotes() const;
    // The stream the output plays, StreamEventSize bytes an event, at most MaxStreamEvents
    // events: a preamble of 15 controller events that carries the settings, an opening program
    // change with Instrument unless the list begins with one, then the list's events in order
    // (and the pitch-bend ramp). Empty when the list is empty: PlayString refuses such a play
    // string (TMidiGen::mgNothingToPlay).
    QByteArray Stream() const;
    // Notes of the list whose note on the stream's limit left out: they are not played.
    qsizetype NotesLeftOut() const;
    // Notes that are played but whose note off the limit left out: they sound on until the
    // stream ends, which silences them.
    qsizetype NoteEndsLost() const;

    // Stream() as a Standard MIDI File of format 0: one track, division 50 ticks per quarter
    // note and no tempo event, so that one tick is 10 ms as in the stream; every stream event
    // with its delta time and status byte, then the end of the track. One pass: Loops does not
    // apply. A request with an empty stream gives a file whose track holds only its end.
    // A file's delta time holds at most 268,435,455 ticks (about 31 days): for a stream whose
    // events lie further apart, the result is empty and *errorMessage (when given) says which
    // event, as "event 17 follows the one before by 300000000 ticks; a Standard MIDI File
    // holds at most 268435455".
    QByteArray StandardMidiFile(QString *errorMessage = nullptr) const;

private:
    friend class TMGCompiledRequestData; // makes them
    explicit TMGCompiledRequest(TMGCompiledRequestData *data);

    QSharedDataPointer<TMGCompiledRequestData> d;
};

Q_DECLARE_SHARED(TMGCompiledRequest)
