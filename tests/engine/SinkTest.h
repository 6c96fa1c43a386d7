#pragma once

// A fixture for tests heard at a private sound server's sink: the server, a recorder of its
// sink's monitor and a generator on the built-in synthesizer, with a flute on C5 held for 8 s
// and a note on F#6 to follow it (neither pitch is near a harmonic of the other).

#include "EngineTestSupport.h"
#include "MonitorRecorder.h"
#include "PrivateSoundServer.h"

#include <midigen/MidiGen.h>

#include <gtest/gtest.h>

namespace enginetest
{

class SinkTest : public ::testing::Test
{
protected:
    using Kind = testsupport::PrivateSoundServer::Kind;
    explicit SinkTest(Kind kind = Kind::PulseAudio) : server(kind) {}

    static constexpr const char *HeldNote = "I73,C5;800";
    static constexpr int HeldKey = 60;
    static constexpr const char *NextNote = "I73,F#6;300";
    static constexpr int NextKey = 78;
    static constexpr std::size_t Window = 4410; // 100 ms

    void SetUp() override;

    // The recording so far from frame `from` on (the recorder keeps recording).
    Samples recorded(std::size_t from = 0) const;
    // The level of the key's pitch in the last 100 ms recorded.
    double levelNow(int key) const;
    // Starts the recorder again after the server was started again.
    void restartRecorder();
    // Plays the held note until it has sounded at the sink for 300 ms; returns its level there.
    double startTheHeldNote();
    // The largest level of the next note's pitch in 100 ms from frame `from` on where it is
    // stronger than the held note's.
    double nextNoteHeldFrom(std::size_t from) const;

    testsupport::PrivateSoundServer server;
    bench::MonitorRecorder recorder;
    TMidiGen generator;
};

} // namespace enginetest
