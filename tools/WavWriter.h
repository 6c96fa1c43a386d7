#pragma once

// A WAV file of 16-bit interleaved stereo PCM at 44,100 Hz, built in memory.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace tool
{

class WavWriter
{
public:
    static constexpr int SampleRate = 44100;
    static constexpr int Channels = 2;
    // The most sample bytes a WAV file can hold: its sizes are 32-bit.
    static constexpr std::uint64_t MaxDataBytes = 0xFFFFFFFFu - 36;

    WavWriter();

    // Appends frames (2 samples each); false, appending nothing, when the file would hold more
    // than MaxDataBytes.
    bool write(const std::int16_t *samples, std::size_t frames);
    // Bytes of samples appended so far.
    std::uint64_t dataBytes() const { return std::uint64_t(file_.size()) - HeaderBytes; }
    // The whole file: the header with the sizes filled in, then the samples. The writer is empty
    // afterwards.
    QByteArray take();

private:
    static constexpr qsizetype HeaderBytes = 44;
    QByteArray file_;
};

} // namespace tool
