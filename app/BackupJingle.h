#pragma once

// What every tick of a backup run plays, and the tone generator settings that every run writes
// before it starts. A header of its own, so that the tone generator's tests and benchmarks play
// what the program plays without linking the program.

#include <midigen/MidiGen.h>

#include <QByteArray>

namespace noggix
{

// The play string of every tick.
inline const QByteArray BackupJingle = QByteArrayLiteral("I94,G3,100;I31,50;G4,B,G,G3,D4");

// The settings that a run writes into its tone generator, named as the generator's properties.
struct JingleSettings {
    qint32 modulation;
    bool sustain;
    qint32 pitchBend;
    quint32 duration;
    quint32 loops;
};

inline constexpr JingleSettings BackupJingleSettings = {
    .modulation = 100, .sustain = true, .pitchBend = 0, .duration = 400, .loops = 1};

// Writes BackupJingleSettings into generator, in the order Modulation, Sustain, PitchBend,
// Duration, Loops.
inline void applyJingleSettings(TMidiGen &generator)
{
    generator.setModulation(BackupJingleSettings.modulation);
    generator.setSustain(BackupJingleSettings.sustain);
    generator.setPitchBend(BackupJingleSettings.pitchBend);
    generator.setDuration(BackupJingleSettings.duration);
    generator.setLoops(BackupJingleSettings.loops);
}

} // namespace noggix
