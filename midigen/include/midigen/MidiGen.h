#pragma once

// TMidiGen, the MIDI tone generator: a non-visual component that keeps its settings as
// published properties and plays single notes and play strings by assembling a MIDI stream
// buffer from an event list.

#include <midigen/NoteEvent.h>
#include <midigen/PlayStringParser.h>
#include <midigen/StreamEncoder.h>

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace midiout
{
class Output;
class Stream;
enum class Notification;
} // namespace midiout

class TMidiGen : public QObject
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
    Q_PROPERTY(bool IsPlaying READ IsPlaying STORED false)

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
    // Ends a stream that still plays, at once, and returns when it has closed.
    ~TMidiGen() override;

    // Properties: getters return the stored value. Setters of ranged properties store the value
    // clamped by ClampSetting; Sustain, Duration and Loops store it unchanged. No write reaches a
    // device or a stream that already plays. Each reset restores the published default.
    qint32 Volume() const { return volume_; } // 0..100 percent
    void setVolume(qint32 value);
    void resetVolume() { setVolume(DefaultVolume); }
    qint32 Pan() const { return pan_; } // -100 left .. 100 right
    void setPan(qint32 value);
    void resetPan() { setPan(DefaultPan); }
    qint32 Reverb() const { return reverb_; } // 0..100 percent
    void setReverb(qint32 value);
    void resetReverb() { setReverb(DefaultReverb); }
    qint32 Chorus() const { return chorus_; } // 0..100 percent
    void setChorus(qint32 value);
    void resetChorus() { setChorus(DefaultChorus); }
    bool Sustain() const { return sustain_; } // pedal held for the whole stream
    void setSustain(bool value) { sustain_ = value; }
    void resetSustain() { setSustain(DefaultSustain); }
    qint32 Modulation() const { return modulation_; } // 0..100 percent
    void setModulation(qint32 value);
    void resetModulation() { setModulation(DefaultModulation); }
    qint32 PitchBend() const { return pitchBend_; } // -120..120 tenths of a semitone, 0 = none
    void setPitchBend(qint32 value);
    void resetPitchBend() { setPitchBend(DefaultPitchBend); }
    qint32 PBDelay() const { return pbDelay_; } // 0..100 percent of the span before the ramp
    void setPBDelay(qint32 value);
    void resetPBDelay() { setPBDelay(DefaultPBDelay); }
    qint32 PBDuration() const { return pbDuration_; } // 0..100 percent of the rest, ramping
    void setPBDuration(qint32 value);
    void resetPBDuration() { setPBDuration(DefaultPBDuration); }
    quint32 Duration() const { return duration_; } // note length in 10 ms ticks
    void setDuration(quint32 value) { duration_ = value; }
    void resetDuration() { setDuration(DefaultDuration); }
    TMGNote Note() const { return note_; } // pitch class for Play
    void setNote(TMGNote value);
    void resetNote() { setNote(DefaultNote); }
    qint32 Octave() const { return octave_; } // 0..10, for Play and play strings
    void setOctave(qint32 value);
    void resetOctave() { setOctave(DefaultOctave); }
    TMGInstrument Instrument() const { return instrument_; }
    void setInstrument(TMGInstrument value);
    void resetInstrument() { setInstrument(DefaultInstrument); }
    TMGChannel Channel() const { return channel_; } // channel of play requests
    void setChannel(TMGChannel value);
    void resetChannel() { setChannel(DefaultChannel); }
    quint32 Loops() const { return loops_; } // passes per stream, 0 = until stopped
    void setLoops(quint32 value) { loops_ = value; }
    void resetLoops() { setLoops(DefaultLoops); }
    // True while a stream of this component is open.
    bool IsPlaying() const { return isPlaying_; }

    // Value if min <= value <= max, else the nearer bound. Out of range while designing, the
    // range message "Value must be between <min> and <max>" goes to the hook first.
    qint32 ClampSetting(qint32 min, qint32 max, qint32 value) const;

    // Design mode, set by a form designer that hosts the component; off by default, and then
    // range messages are never shown.
    void setDesigning(bool designing) { designing_ = designing; }
    bool designing() const { return designing_; }
    void setRangeMessageHook(RangeMessageHook hook) { rangeMessageHook_ = std::move(hook); }

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

private:
    // Tests inspect the playback state through this class of their own.
    friend class TMidiGenTestAccess;

    // The event list that PlayNote(note) plays; copies Channel into the play channel and limits
    // note with ClampSetting. Builds nothing else and plays nothing.
    midigen::EventList noteList(qint32 note);
    // The sorted event list that PlayString(text) plays, appended to list; copies Channel into
    // the play channel and returns the bend-allowed flag. Plays nothing.
    bool ParsePlayString(const QByteArray &text, midigen::EventList &list);

    // The pre-play step of every play request; false refuses the request.
    bool PrepareToPlay();
    // Takes over list, assembles the stream buffer from it and starts the stream; true when the
    // stream was started. The records are released whatever the result.
    bool AssembleAndPlay(midigen::EventList list, bool bendAllowed);
    // Copies Channel into the play channel and appends the preamble and the encoded list to the
    // stream buffer (midigen::EncodeStream); the list is released.
    void AssembleStream(midigen::EventList list, bool bendAllowed);
    // Appends one stream event (12 bytes) to the stream buffer; false when it was dropped.
    bool AppendEvent(std::uint32_t delta, std::uint32_t eventWord);
    // Empties the stream buffer.
    void releaseStreamBuffer();

    // The next value of the process-wide instance counter (1 for the first component).
    static quint32 takeInstanceNumber();

    // Describes the stream buffer to the device; kept so that it stays valid between passes.
    struct StreamHeader {
        const std::uint8_t *data = nullptr;
        std::size_t bufferLength = 0;
        std::size_t bytesRecorded = 0;
    };

    // Reacts to the four notifications of the open stream.
    void handleNotification(midiout::Notification notification);
    // Ends the open stream: returns its buffer, silences the device, releases the buffer and
    // closes the stream; the close notification follows.
    void endStream();
    // Ends the open stream, if any, at once, and returns when its close has been handled.
    void endStreamAndWait();
    // Undoes a start that failed after the open: ends the stream, waits for its close and makes
    // the component ready for the next request.
    bool abandonStartedStream();
    // Handles events, sleeping while none arrive, until done() holds.
    template <typename Predicate> void waitUntil(Predicate done);

    // Settings, one field of the published width each.
    qint32 volume_ = DefaultVolume;
    qint32 pan_ = DefaultPan;
    qint32 reverb_ = DefaultReverb;
    qint32 chorus_ = DefaultChorus;
    bool sustain_ = DefaultSustain;
    qint32 modulation_ = DefaultModulation;
    qint32 pitchBend_ = DefaultPitchBend;
    qint32 pbDelay_ = DefaultPBDelay;
    qint32 pbDuration_ = DefaultPBDuration;
    quint32 duration_ = DefaultDuration;
    TMGNote note_ = DefaultNote;
    qint32 octave_ = DefaultOctave;
    TMGInstrument instrument_ = DefaultInstrument;
    TMGChannel channel_ = DefaultChannel;
    quint32 loops_ = DefaultLoops;

    bool designing_ = false;
    RangeMessageHook rangeMessageHook_;

    // Playback state.
    midiout::Output &output_;                 // the devices this component plays on
    std::unique_ptr<midiout::Stream> stream_; // the open stream, null while none is open
    StreamHeader header_;
    QObject *notificationReceiver_; // child; receives the stream's notifications
    bool stopRequested_ = false;    // the open stream was told to stop: its position is stale
    bool closing_ = false;          // the open stream is being ended; its done is stale
    qint32 device_ = -1;            // output device of the next open; -1 = the default device
    quint32 instanceNumber_;        // from the process-wide instance counter
    quint8 playChannel_ = 0;        // channel of the current play request
    bool isPlaying_ = false;        // from the open to the close notification
    bool open_ = false;             // a stream is open
    bool continue_ = false;         // repeat the stream at the end of a pass
    quint32 loopCounter_ = 0;       // passes still to play, 0 = endless
    bool ready_ = true;             // clear from PrepareToPlay until the first event is reached
    midigen::StreamBuffer streamBuffer_; // the assembled stream events
};

namespace midigen
{

// The settings of generator as a play request hands them to the parser and to the encoder,
// with Channel as the play channel.
ParseSettings ParseSettingsOf(const TMidiGen &generator);
EncodeSettings EncodeSettingsOf(const TMidiGen &generator);

} // namespace midigen
