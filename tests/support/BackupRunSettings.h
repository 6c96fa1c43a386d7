#pragma once

// The five settings the backup run writes into its tone generator before its first tick, for
// tests and benchmarks that play or encode the run's jingle.

#include <midigen/MidiGen.h>

namespace testsupport
{

inline const QByteArray Jingle = QByteArrayLiteral("I94,G3,100;I31,50;G4,B,G,G3,D4");

inline void configureForBackupRun(TMidiGen &generator)
{
    generator.setModulation(100);
    generator.setSustain(true);
    generator.setPitchBend(0);
    generator.setDuration(400);
    generator.setLoops(1);
}

} // namespace testsupport
