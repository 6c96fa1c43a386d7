#pragma once

// An Output whose device 0 (and -1) is a synthesizer engine without audio driver: time advances
// only while render() runs, faster than real time, through the same rendering function as the
// audio callback. Tests and the render tool use it.

#include <midiout/Export.h>
#include <midiout/Output.h>

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace midiout
{

class SynthEngine;

class MIDIOUT_EXPORT OfflineOutput final : public Output
{
public:
    static constexpr int SampleRate = 44100;

    // Builds the synthesizer with the first of soundFonts that loads.
    explicit OfflineOutput(const QStringList &soundFonts = DefaultSoundFonts());
    ~OfflineOutput() override; // streams opened on it must be gone by then

    int deviceCount() override { return 1; }
    QString deviceName(int device) override;
    bool probe(int device) override;
    std::unique_ptr<Stream> open(int device, QObject *receiver) override;

    // Renders the next frames as interleaved stereo 16-bit samples (2 per frame). The streams'
    // events due meanwhile are played and their notifications posted; the caller delivers them
    // by running its event loop between calls.
    std::vector<std::int16_t> render(std::size_t frames);
    // The same into out, which holds 2 * frames samples: 16-bit as render() returns them, or
    // floating point at full scale ±1.0 (not limited to it: the 16-bit samples are).
    void render(std::int16_t *out, std::size_t frames);
    void render(float *out, std::size_t frames);
    // Frames rendered so far; frame n of the output is frame n of the synthesizer.
    std::uint64_t renderedFrames() const { return rendered_; }
    // Frames the synthesizer has rendered: renderedFrames() and up to one block ahead. A stream
    // restarted now starts at this frame.
    std::uint64_t synthesizerFrames() const;

    // The canonical path of the SoundFont in use, empty without one.
    QString soundFontPath() const;
    // What went wrong while the synthesizer was built, one line per problem; empty if nothing.
    QString diagnostics() const;

private:
    std::unique_ptr<SynthEngine> engine_;
    std::uint64_t rendered_ = 0;
};

} // namespace midiout
