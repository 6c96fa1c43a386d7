#pragma once

// TMidiGen, the MIDI tone generator: a non-visual component that keeps its settings as
// published properties and plays single notes and play strings by assembling a MIDI stream
// buffer from an event list.
//
// The rules for callers:
// - Thread: a component serves the thread of the application object (QCoreApplication) alone.
//   Create it, call it and destroy it there; a call from any other thread is refused at once
//   (mgWrongThread) and changes nothing.
// - Nested event loops: Play, PlayNote and PlayString wait for the previous stream to close and
//   for the new one to open, and the destructor waits for its stream to close. These waits run a
//   nested event loop (QCoreApplication::processEvents), so other events of the thread, timers
//   and queued calls included, may be handled inside these calls. A play request that such a
//   handler makes on the same component is refused (mgBusy).
// - Output owner: the first component that opens a stream on an output becomes that output's
//   owner for the rest of the process, and requests of every other component on it are refused
//   for good (mgOutputOwned), although their MidiAvailable() still says true: it tells only
//   whether the device can be opened. The machine's output, Output::system(), is one per process,
//   so a program plays through one component.
// - Memory: a request copies what it needs (the play string, the stream it builds); nothing of
//   the caller's has to outlive the call.
// - Refusals: a play request returns false and raises nothing; LastRefusal() and LastError() say
//   why. IsPlayingChanged tells when a stream opens and closes, so nobody needs to poll.

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
        mgNoOutput,      // the output device cannot be opened now: MidiAvailable() is false
        mgOutputOwned,   // another component of the process owns the output
        mgNothingToPlay, // the play string holds no note
        mgOpenFailed,    // the output device did not open a stream
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

    // Every setting at its default, idle and ready to play on the machine's output devices;
    // parent owns the component. A QCoreApplication must exist: notifications arrive as events.
    explicit TMidiGen(QObject *parent = nullptr);
    // The same on the devices of output (an offline renderer, a test device), which must
    // outlive the component.
    explicit TMidiGen(midiout::Output &output, QObject *parent = nullptr);
    // Ends a stream that still plays, at once, and returns when it has closed (in a nested event
    // loop). Emits no IsPlayingChanged.
    ~TMidiGen() override;

    // Properties: getters return the stored value. Setters of ranged properties store the value
    // clamped by ClampSetting; Sustain, Duration and Loops store it unchanged. No write reaches a
    // device or a stream that already plays. Each reset restores the published default.
    qint32 Volume() const; // 0..100 percent
    void setVolume(qint32 value);
    void resetVolume() { setVolume(DefaultVolume); }
    qint32 Pan() const; // -100 left .. 100 right
    void setPan(qint32 value);
    void resetPan() { setPan(DefaultPan); }
    qint32 Reverb() const; // 0..100 percent
    void setReverb(qint32 value);
    void resetReverb() { setReverb(DefaultReverb); }
    qint32 Chorus() const; // 0..100 percent
    void setChorus(qint32 value);
    void resetChorus() { setChorus(DefaultChorus); }
    bool Sustain() const; // pedal held for the whole stream
    void setSustain(bool value);
    void resetSustain() { setSustain(DefaultSustain); }
    qint32 Modulation() const; // 0..100 percent
    void setModulation(qint32 value);
    void resetModulation() { setModulation(DefaultModulation); }
    qint32 PitchBend() const; // -120..120 tenths of a semitone, 0 = none
    void setPitchBend(qint32 value);
    void resetPitchBend() { setPitchBend(DefaultPitchBend); }
    qint32 PBDelay() const; // 0..100 percent of the span before the ramp
    void setPBDelay(qint32 value);
    void resetPBDelay() { setPBDelay(DefaultPBDelay); }
    qint32 PBDuration() const; // 0..100 percent of the rest, ramping
    void setPBDuration(qint32 value);
    void resetPBDuration() { setPBDuration(DefaultPBDuration); }
    quint32 Duration() const; // note length in 10 ms ticks
    void setDuration(quint32 value);
    void resetDuration() { setDuration(DefaultDuration); }
    TMGNote Note() const; // pitch class for Play
    void setNote(TMGNote value);
    void resetNote() { setNote(DefaultNote); }
    qint32 Octave() const; // 0..10, for Play and play strings
    void setOctave(qint32 value);
    void resetOctave() { setOctave(DefaultOctave); }
    TMGInstrument Instrument() const;
    void setInstrument(TMGInstrument value);
    void resetInstrument() { setInstrument(DefaultInstrument); }
    TMGChannel Channel() const; // channel of play requests
    void setChannel(TMGChannel value);
    void resetChannel() { setChannel(DefaultChannel); }
    quint32 Loops() const; // passes per stream, 0 = until stopped
    void setLoops(quint32 value);
    void resetLoops() { setLoops(DefaultLoops); }
    // True while a stream of this component is open; IsPlayingChanged tells each change.
    bool IsPlaying() const;

    // Value if min <= value <= max, else the nearer bound. Out of range while designing, the
    // range message "Value must be between <min> and <max>" goes to the hook first.
    qint32 ClampSetting(qint32 min, qint32 max, qint32 value) const;

    // Design mode, set by a form designer that hosts the component; off by default, and then
    // range messages are never shown.
    void setDesigning(bool designing);
    bool designing() const;
    void setRangeMessageHook(RangeMessageHook hook);

    // Published methods. A play operation returns true when a stream was started, false when
    // the request was refused or failed; none of them raises.

    // True when a stream of this component is open or the output device can be opened now.
    Q_INVOKABLE bool MidiAvailable();
    // Plays Note in Octave (note number Note + 12 * Octave, limited to 127).
    Q_INVOKABLE bool Play();
    // Plays a play string: parses it into a sorted event list and plays that list.
    Q_INVOKABLE bool PlayString(const QByteArray &text);
    // Plays one note of Duration ticks with Instrument on Channel; note limited to 0..127.
    Q_INVOKABLE bool PlayNote(qint32 note);
    // Selects the output device of later streams (-1: the default device); the number is stored
    // even when the result is false. True when the number names an existing device.
    Q_INVOKABLE bool SetDevice(qint32 device);
    // Ends the stream after at most its current pass; returns at once.
    Q_INVOKABLE void Stop();

    // Why the last Play, PlayNote or PlayString returned false; mgNone after one that returned
    // true. Other calls leave it alone.
    TMGRefusal LastRefusal() const;
    // LastRefusal() as a short English text without final stop, empty for mgNone.
    QString LastError() const;

signals:
    // IsPlaying has changed: true when a stream has opened, false when it has closed. Emitted
    // after the component has handled the change, so a slot may make the next request.
    void IsPlayingChanged(bool playing);

private:
    // Tests inspect the playback state through this class of their own.
    friend class TMidiGenTestAccess;

    Q_DECLARE_PRIVATE(TMidiGen)
    std::unique_ptr<TMidiGenPrivate> d_ptr;
};
