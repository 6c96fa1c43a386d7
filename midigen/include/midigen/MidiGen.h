#pragma once

// TMidiGen, the MIDI tone generator: a non-visual Qt component that plays single notes and play
// strings on a MIDI output, and compiles them without playing (<midigen/CompiledRequest.h>).

#include <midigen/CompiledRequest.h>
#include <midigen/Export.h>

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace midiout
{
class Output;
} // namespace midiout

class TMidiGenPrivate;

// A non-visual component that plays single notes and play strings on a MIDI output.
//
// A play request (Play(), PlayNote(), PlayString()) builds a MIDI stream: a preamble of
// controller messages that carries the settings (volume, pan, reverb, chorus, modulation,
// sustain), then the notes of its sorted event list, timed in ticks of 10 ms. It hands the
// stream to an output, by default the machine's (midiout::Output::system(), whose device 0 is a
// built-in General MIDI synthesizer), and returns once the stream has started: the tune then
// plays on its own, Loops() passes of it, while the program goes on. A request while a stream
// of the same component plays ends that stream first.
//
// The settings are Qt properties (Volume() ... Loops()), read afresh by every request; writing
// one never changes a stream that already plays. The setters of ranged settings store the
// value clamped by ClampSetting(): a value below the range stores the lower bound, one above it
// the upper bound (in design mode the range message is shown first); Sustain, Duration and
// Loops store any value. Each reset restores the published default.
//
// CompileNote() and CompileString() give what PlayNote() and PlayString() would play, without
// playing it: the event list, the stream and its Standard MIDI File. The play-string language
// is described in \ref playstring; \ref hello-midigen/main.cpp "hello-midigen" and
// \ref tune-to-midi/main.cpp "tune-to-midi" are complete programs.
//
// The rules for callers:
// - **One thread.** A component serves the thread of the application object
//   (QCoreApplication) alone. Create it, call it and destroy it there. A call from any other
//   thread is refused at once and changes nothing: a play request returns false, Stop() and
//   SetDevice() do nothing, MidiAvailable() says false, and LastRefusal() asked there says
//   mgWrongThread (mgNoApplication without an application object).
// - **An event loop between requests.** The output tells the component through events posted
//   to its thread when the stream has opened, when it has reached its first event, when a pass
//   has ended and when it has closed; the component repeats passes and ends the stream on
//   them, and IsPlayingChanged() follows them. So the thread must return to an event loop
//   (QCoreApplication::exec(), a dialog's exec(), or QCoreApplication::processEvents() in a
//   loop of one's own) after a request: until the stream has been seen to reach its first
//   event, a new request is refused as busy (mgBusy). Without an event loop only the first
//   request ever plays, and the stream is never repeated or closed.
// - **Nested event loops.** Play(), PlayNote() and PlayString() wait for the component's previous
//   stream to close and for the new one to open (the first request of a program also waits,
//   in this loop, for the built-in synthesizer to load and its sound server to answer, well
//   under a second), and the destructor waits for its stream to close. These waits run a
//   nested event loop (QCoreApplication::processEvents()), so other events of the thread,
//   timers and queued calls included, may be handled inside these calls. A play request that
//   such a handler makes on the same component is refused (mgBusy). No wait is without a
//   bound: a notification that does not come ends the stream.
// - **The sound is heard whole.** A stream's first note is heard from the start, also for a
//   program's first request and the first after the sound server restarted; IsPlayingChanged
//   (false) comes once the stream's last note has been heard, so a program may quit on it.
// - **One output owner.** The component that last opened a stream on an output owns it while
//   it lives, and the requests of every other component on that output are refused
//   (mgOutputOwned), although their MidiAvailable() still says true: it tells only whether the
//   device can be opened. Once the owner is destroyed, another component may play. The
//   machine's output, midiout::Output::system(), is one per process, so a program plays
//   through one component at a time.
// - **Lifetimes.** A component belongs to its parent (QObject ownership) or to whoever made it;
//   an output given to the constructor must outlive it. Destroying a component ends its
//   stream at once and returns when the stream has closed, without emitting
//   IsPlayingChanged(). A request copies what it needs (the play string, the stream it
//   builds): nothing of the caller's has to outlive the call. A TMGCompiledRequest is a value
//   of its own and may outlive the component that made it.
// - **Refusals are values.** A play request returns true when its stream has started and false
//   when it was refused or failed; it raises nothing and shows nothing. LastRefusal() says why
//   (a TMGRefusal) and LastError() gives the same as a short text. mgBusy, mgWrongThread,
//   mgNoApplication and mgNoOutput for a device that cannot be opened (SetDevice()) are told
//   before anything happens, and a stream that plays plays on; the others, mgNoOutput for a
//   sound server that does not answer included, come after the request has begun, which ended
//   the component's own previous stream. The component stays usable after every refusal.
//
// A minimal program:
// \include hello-midigen/main.cpp
class MIDIGEN_EXPORT TMidiGen : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint32 Volume READ Volume WRITE setVolume RESET resetVolume)
    Q_PROPERTY(qint32 Pan READ Pan WRITE setPan RESET resetPan)
    Q_PROPERTY(qint32 Reverb READ Reverb WRITE setReverb RESET resetReverb)
    Q_PROPERTY(qint32 Chorus READ Chorus WRITE setChorus RESET resetChorus)
    Q_PROPERTY(bool Sustain READ Sustain WRITE setSustain RESET resetSustain)
    Q_PROPERTY(qint32 Modulation READ Modulation WRITE setModulation RESET resetModulation)
    Q_PROPERTY(qint32 PitchBend READ PitchBend WRITE setPitchBend RESET resetPitchBend)
    Q_PROPERTY(qint32 PBDelay READ PBDelay WRITE setPBDelay RESET resetPBDelay)
    Q_PROPERTY(qint32 PBDuration READ PBDuration WRITE setPBDuration RESET resetPBDuration)
    Q_PROPERTY(quint32 Duration READ Duration WRITE setDuration RESET resetDuration)
    Q_PROPERTY(TMGNote Note READ Note WRITE setNote RESET resetNote)
    Q_PROPERTY(qint32 Octave READ Octave WRITE setOctave RESET resetOctave)
    Q_PROPERTY(TMGInstrument Instrument READ Instrument WRITE setInstrument RESET resetInstrument)
    Q_PROPERTY(TMGChannel Channel READ Channel WRITE setChannel RESET resetChannel)
    Q_PROPERTY(quint32 Loops READ Loops WRITE setLoops RESET resetLoops)
    Q_PROPERTY(bool IsPlaying READ IsPlaying NOTIFY IsPlayingChanged STORED false)

public:
    // clang-format off
    // Pitch class of the note that Play plays.
    enum TMGNote : quint8 {
        mgC, mgCsharp, mgD, mgDsharp, mgE, mgF, mgFsharp, mgG, mgGsharp, mgA, mgAsharp, mgB,
    };
    Q_ENUM(TMGNote)

    // MIDI channel of a play request; the ordinal is the 0-based channel, mgCh10 (9) is the
    // percussion channel.
    enum TMGChannel : quint8 {
        mgCh01, mgCh02, mgCh03, mgCh04, mgCh05, mgCh06, mgCh07, mgCh08,
        mgCh09, mgCh10, mgCh11, mgCh12, mgCh13, mgCh14, mgCh15, mgCh16,
    };
    Q_ENUM(TMGChannel)

    // Instruments: 0..127 are the melodic programs (ordinal = program number), 128..174 the
    // percussion sounds (percussion key = ordinal - 93).
    enum TMGInstrument : quint8 {
        mgAcousticGrandPiano, mgBrightAcousticPiano, mgElectricGrandPiano, mgHonkyTonkPiano,
        mgElectricPiano1, mgElectricPiano2, mgHarpsichord, mgClavinet, mgCelesta, mgGlockenspiel,
        mgMusicBox, mgVibraphone, mgMarimba, mgXylophone, mgTubularBells, mgDulcimer,
        mgDrawbarOrgan, mgPercussiveOrgan, mgRockOrgan, mgChurchOrgan, mgReedOrgan, mgAccordion,
        mgHarmonica, mgTangoAccordion, mgAcousticNylonGuitar, mgAcousticSteelGuitar,
        mgJazzElectricGuitar, mgCleanElectricGuitar, mgMutedElectricGuitar, mgOverdrivenGuitar,
        mgDistortionGuitar, mgGuitarHarmonics, mgAcousticBass, mgFingeredElectricBass,
        mgPickedElectricBass, mgFretlessBass, mgSlapBass1, mgSlapBass2, mgSynthBass1, mgSynthBass2,
        mgViolin, mgViola, mgCello, mgContrabass, mgTremoloStrings, mgPizzicatoStrings,
        mgOrchestralHarp, mgTimpani, mgStringEnsemble1, mgStringEnsemble2, mgSynthStrings1,
        mgSynthStrings2, mgChoirAahs, mgVoiceOohs, mgSynthVoice, mgOrchestraHit, mgTrumpet,
        mgTrombone, mgTuba, mgMutedTrumpet, mgFrenchHorn, mgBrassSection, mgSynthBrass1,
        mgSynthBrass2, mgSopranoSax, mgAltoSax, mgTenorSax, mgBaritoneSax, mgOboe, mgEnglishHorn,
        mgBassoon, mgClarinet, mgPiccolo, mgFlute, mgRecorder, mgPanFlute, mgBlownBottle,
        mgShakuhachi, mgWhistle, mgOcarina, mgSquareLead, mgSawtoothLead, mgCalliopeLead,
        mgChiffLead, mgCharangLead, mgVoiceLead, mgFifthsLead, mgBassandLead, mgNewAgePad,
        mgWarmPad, mgPolySynthPad, mgChoirPad, mgBowedPad, mgMetallicPad, mgHaloPad, mgSweepPad,
        mgSynthFXRain, mgSynthFXSoundtrack, mgSynthFXCrystal, mgSynthFXAtmosphere,
        mgSynthFXBrightness, mgSynthFXGoblins, mgSynthFXEchoes, mgSynthFXSciFi, mgSitar, mgBanjo,
        mgShamisen, mgKoto, mgKalimba, mgBagpipe, mgFiddle, mgShanai, mgTinkleBell, mgAgogo,
        mgSteelDrums, mgWoodblock, mgTaikoDrum, mgMelodicTom, mgSynthDrum, mgReverseCymbal,
        mgGuitarFretNoise, mgBreathNoise, mgSeashore, mgBirdTweet, mgTelephoneRing, mgHelicopter,
        mgApplause, mgGunshot,
        // percussion, keys 35..81
        mgAcousticBassDrum, mgBassDrum1, mgSideStick, mgAcousticSnare, mgHandClap, mgElectricSnare,
        mgLowFloorTom, mgClosedHiHat, mgHighFloorTom, mgPedalHiHat, mgLowTom, mgOpenHiHat,
        mgLowMidTom, mgHiMidTom, mgCrashCymbal1, mgHighTom, mgRideCymbal1, mgChineseCymbal,
        mgRideBell, mgTambourine, mgSplashCymbal, mgCowbell, mgCrashCymbal2, mgVibraslap,
        mgRideCymbal2, mgHiBongo, mgLowBongo, mgMuteHiConga, mgOpenHiConga, mgLowConga,
        mgHighTimbale, mgLowTimbale, mgHighAgogo, mgLowAgogo, mgCabasa, mgMaracas, mgShortWhistle,
        mgLongWhistle, mgShortGuiro, mgLongGuiro, mgClaves, mgHiWoodBlock, mgLowWoodBlock,
        mgMuteCuica, mgOpenCuica, mgMuteTriangle, mgOpenTriangle,
    };
    Q_ENUM(TMGInstrument)
    // clang-format on

    // Why the last play request returned false; LastError() gives the same as a short text.
    enum TMGRefusal : quint8 {
        mgNone,          // the last request started its stream (or none was made yet)
        mgBusy,          // the previous request had not begun to sound, or this came in its wait
        mgNoApplication, // no QCoreApplication exists, so no notification could arrive
        mgNoOutput,      // the device of the next stream (SetDevice()) does not exist or cannot
                         // be opened now, told before anything happens; or its sound server did
                         // not answer the opening stream
        mgOutputOwned,   // another component of the process owns the output
        mgNothingToPlay, // the play string yields no event (an empty list: nothing to send)
        mgOpenFailed,    // the device exists and can be opened, but did not open the stream
        mgStartFailed,   // the stream opened but did not start; it was closed again
        mgWrongThread,   // the call came from a thread other than the application object's
    };
    Q_ENUM(TMGRefusal)

    // Published defaults: a layout stores only values that differ from these.
    static constexpr qint32 DefaultVolume = 100;
    static constexpr qint32 DefaultPan = 0;
    static constexpr qint32 DefaultReverb = 0;
    static constexpr qint32 DefaultChorus = 0;
    static constexpr bool DefaultSustain = false;
    static constexpr qint32 DefaultModulation = 0;
    static constexpr qint32 DefaultPitchBend = 0;
    static constexpr qint32 DefaultPBDelay = 0;
    static constexpr qint32 DefaultPBDuration = 100;
    static constexpr quint32 DefaultDuration = 50;
    static constexpr TMGNote DefaultNote = mgC;
    static constexpr qint32 DefaultOctave = 4;
    static constexpr TMGInstrument DefaultInstrument = mgAcousticGrandPiano;
    static constexpr TMGChannel DefaultChannel = mgCh01;
    static constexpr quint32 DefaultLoops = 1;

    // Shows the range message of an out-of-range write while designing: the host shows text in a
    // modal box without owner, captioned "Error", with the error icon.
    using RangeMessageHook = std::function<void(const QString &text)>;

    // Every setting at its default, idle and ready to play on the machine's output
    // (midiout::Output::system()); parent owns the component. Starts loading the built-in
    // synthesizer in the background, so that a request a moment later does not wait for it.
    // Playing needs a QCoreApplication, whose event loop delivers the notifications; compiling
    // does not.
    explicit TMidiGen(QObject *parent = nullptr);
    // The same on the devices of output (an offline renderer, midiout::OfflineOutput, or an
    // output of one's own), which must outlive the component.
    explicit TMidiGen(midiout::Output &output, QObject *parent = nullptr);
    // Ends a stream that still plays, at once (also one whose last sound is still on its way
    // to the speakers), and returns when it has closed (in a nested event loop). Emits no
    // IsPlayingChanged(). An output it owned is free for other components afterwards.
    ~TMidiGen() override;

    // Channel volume in percent, 0..100 (100 sends controller 7 at 127); default 100.
    qint32 Volume() const;
    // Stores value clamped to 0..100.
    void setVolume(qint32 value);
    // Volume := DefaultVolume (100).
    void resetVolume() { setVolume(DefaultVolume); }
    // Stereo position, -100 (left) .. 100 (right); default 0, the centre.
    qint32 Pan() const;
    // Stores value clamped to -100..100.
    void setPan(qint32 value);
    // Pan := DefaultPan (0).
    void resetPan() { setPan(DefaultPan); }
    // Reverb send in percent, 0..100; default 0.
    qint32 Reverb() const;
    // Stores value clamped to 0..100.
    void setReverb(qint32 value);
    // Reverb := DefaultReverb (0).
    void resetReverb() { setReverb(DefaultReverb); }
    // Chorus send in percent, 0..100; default 0.
    qint32 Chorus() const;
    // Stores value clamped to 0..100.
    void setChorus(qint32 value);
    // Chorus := DefaultChorus (0).
    void resetChorus() { setChorus(DefaultChorus); }
    // Whether the sustain pedal is held for the whole stream, so that notes sound on after
    // their end until the stream closes; default false.
    bool Sustain() const;
    // Stores value as it is.
    void setSustain(bool value);
    // Sustain := DefaultSustain (false).
    void resetSustain() { setSustain(DefaultSustain); }
    // Modulation wheel in percent, 0..100; default 0.
    qint32 Modulation() const;
    // Stores value clamped to 0..100.
    void setModulation(qint32 value);
    // Modulation := DefaultModulation (0).
    void resetModulation() { setModulation(DefaultModulation); }
    // Target of the pitch-bend ramp that a stream may add before its first note off, in tenths
    // of a semitone, -120 (an octave down) .. 120 (an octave up); default 0, no ramp. Only a
    // request whose bend-allowed flag is true gets the ramp (TMGCompiledRequest::BendAllowed()).
    qint32 PitchBend() const;
    // Stores value clamped to -120..120.
    void setPitchBend(qint32 value);
    // PitchBend := DefaultPitchBend (0).
    void resetPitchBend() { setPitchBend(DefaultPitchBend); }
    // Part of the bent note's span, in percent 0..100, that passes before the ramp begins;
    // default 0. 100 means no ramp.
    qint32 PBDelay() const;
    // Stores value clamped to 0..100.
    void setPBDelay(qint32 value);
    // PBDelay := DefaultPBDelay (0).
    void resetPBDelay() { setPBDelay(DefaultPBDelay); }
    // Part of the rest of that span, in percent 0..100, over which the ramp runs; default 100.
    // 0 means no ramp.
    qint32 PBDuration() const;
    // Stores value clamped to 0..100.
    void setPBDuration(qint32 value);
    // PBDuration := DefaultPBDuration (100).
    void resetPBDuration() { setPBDuration(DefaultPBDuration); }
    // Note length in ticks of 10 ms: the length of PlayNote()'s note and the default length of
    // play-string notes; default 50 (half a second). The stream's times are signed 32-bit
    // ticks: a length above 2,147,483,647 (about 248 days) counts as 2,147,483,647, and a
    // play-string note that would end after tick 2,147,483,647 is left out.
    quint32 Duration() const;
    // Stores value as it is, any value.
    void setDuration(quint32 value);
    // Duration := DefaultDuration (50).
    void resetDuration() { setDuration(DefaultDuration); }
    // Pitch class of the note that Play() plays; default mgC.
    TMGNote Note() const;
    // Stores value; a value above mgB (11) stores mgB.
    void setNote(TMGNote value);
    // Note := DefaultNote (mgC).
    void resetNote() { setNote(DefaultNote); }
    // Octave 0..10 of the note that Play() plays, and the starting octave of play strings;
    // default 4.
    qint32 Octave() const;
    // Stores value clamped to 0..10.
    void setOctave(qint32 value);
    // Octave := DefaultOctave (4).
    void resetOctave() { setOctave(DefaultOctave); }
    // Instrument of PlayNote(), starting instrument of play strings, and the program that a
    // stream starts with when its list does not begin with a program change; default
    // mgAcousticGrandPiano. A percussion sound (128..174) on a melodic Channel() plays its
    // notes on the percussion channel.
    TMGInstrument Instrument() const;
    // Stores value; a value above mgOpenTriangle (174) stores mgOpenTriangle.
    void setInstrument(TMGInstrument value);
    // Instrument := DefaultInstrument (mgAcousticGrandPiano).
    void resetInstrument() { setInstrument(DefaultInstrument); }
    // MIDI channel of play requests (the play channel); default mgCh01. On mgCh10, the
    // percussion channel, a note number selects the percussion sound.
    TMGChannel Channel() const;
    // Stores value; a value above mgCh16 (15) stores mgCh16.
    void setChannel(TMGChannel value);
    // Channel := DefaultChannel (mgCh01).
    void resetChannel() { setChannel(DefaultChannel); }
    // Passes a stream plays, back to back; 0 repeats it until Stop() or the next request;
    // default 1.
    quint32 Loops() const;
    // Stores value as it is, any value.
    void setLoops(quint32 value);
    // Loops := DefaultLoops (1).
    void resetLoops() { setLoops(DefaultLoops); }
    // True while a stream of this component is open, from its opening to its close, across all
    // passes; IsPlayingChanged() tells each change.
    bool IsPlaying() const;

    // Value if min <= value <= max, else the nearer bound. Out of range while designing, the
    // range message "Value must be between <min> and <max>" goes to the hook first.
    qint32 ClampSetting(qint32 min, qint32 max, qint32 value) const;

    // Design mode, set by a form designer that hosts the component; off by default, and then
    // range messages are never shown.
    void setDesigning(bool designing);
    // Whether the component is in design mode.
    bool designing() const;
    // Where range messages go in design mode; none by default.
    void setRangeMessageHook(RangeMessageHook hook);

    // True when a stream of this component is open or the output device can be opened now
    // (midiout::Output::probe(): whether a sound server answers is known only once a stream
    // opens, and such a request is refused with mgNoOutput). It does not tell whether another
    // component owns the output (see the output owner rule). While a stream is open it says
    // true whatever SetDevice() chose since: a request then asks the device of its own stream
    // first, and refuses one that cannot be opened with mgNoOutput. Never waits for the sound
    // server.
    Q_INVOKABLE bool MidiAvailable();
    // Plays Note() in Octave(): PlayNote(Note() + 12 * Octave()), a note number 0..131 that
    // PlayNote limits to 127. True when the stream has started.
    Q_INVOKABLE bool Play();
    // Plays a play string (\ref playstring): parses it into a sorted event list and plays
    // that list, with the pitch-bend ramp only for a play string that is one chord of one
    // length. True when the stream has started; false with mgNothingToPlay for a play string
    // whose list is empty. A list of program changes alone ("I17", "243;I29;0935") plays like
    // any other: its stream (the preamble and the program changes) selects the sound on the
    // channel, nothing is heard, and it ends after its passes as usual; on an external
    // instrument that is how a program chooses a sound. The stream is what CompileString(text)
    // gives.
    Q_INVOKABLE bool PlayString(const QByteArray &text);
    // Plays one note of Duration() ticks with Instrument() on Channel(); note is limited to
    // 0..127 (in design mode an out-of-range note shows the range message). True when the
    // stream has started. The stream is what CompileNote(note) gives.
    Q_INVOKABLE bool PlayNote(qint32 note);
    // Selects the output device of later streams (-1: the default device); the number is stored
    // even when the result is false. True when the number names an existing device (the
    // count is asked afresh; midiout::Output::deviceNumber() finds a device by its name). An
    // open stream keeps its device. A later request on a device that does not exist, or cannot
    // be opened now, is refused with mgNoOutput before anything happens: a stream that plays
    // plays on. One that can be opened but whose open fails gives mgOpenFailed, after the
    // request has ended the component's previous stream.
    Q_INVOKABLE bool SetDevice(qint32 device);
    // Ends the stream after at most its current pass (at once once it has begun to sound, and
    // without waiting for what is still on its way to the speakers); returns at once, and
    // IsPlayingChanged(false) follows when the stream has closed.
    Q_INVOKABLE void Stop();

    // What PlayNote(note) would play with the settings as they are: the list of one note, the
    // bend-allowed flag (always true) and the stream. Plays nothing, waits for nothing and
    // changes nothing, LastRefusal() included; in design mode an out-of-range note shows the
    // range message, as PlayNote() does. Call it where the settings are written.
    TMGCompiledRequest CompileNote(qint32 note) const;
    // What PlayString(text) would play with the settings as they are: the sorted event list,
    // the bend-allowed flag and the stream (empty when the list is empty: PlayString() refuses
    // it; a list of program changes alone has its stream, with HasNotes() false). Plays
    // nothing, waits for nothing and changes nothing. Call it where the settings are written.
    TMGCompiledRequest CompileString(const QByteArray &text) const;

    // Why the last Play(), PlayNote() or PlayString() returned false; mgNone after one that
    // returned true. Other calls leave it alone.
    TMGRefusal LastRefusal() const;
    // LastRefusal() as a short English text without final stop, empty for mgNone.
    QString LastError() const;

signals:
    // IsPlaying has changed: true when a stream has opened, false when it has closed. Emitted
    // once the component has handled the change. A request made from a slot on false is taken
    // when the stream ended by itself (its last pass) or by Stop(): it plays. It is refused
    // with mgBusy when the stream was ended by a request that replaces it (Play(), PlayNote()
    // or PlayString() while a stream is open): the slot then runs inside that request, which
    // plays its own stream once the old one has closed.
    void IsPlayingChanged(bool playing);

private:
    // Named apart from QObject's d_ptr, which it would otherwise hide.
    Q_DECLARE_PRIVATE_D(dptr_, TMidiGen)
    std::unique_ptr<TMidiGenPrivate> dptr_;
};
