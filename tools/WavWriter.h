#pragma once

// A WAV file of 16-bit interleaved stereo PCM at 44,100 Hz, made piece by piece: the samples as
// they come, and the header, whose sizes are known only once the last sample is there.

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
    static constexpr std::uint64_t BytesPerFrame = Channels * 2;
    static constexpr qsizetype HeaderBytes = 44;
    // The most sample bytes a WAV file can hold: its sizes are 32-bit.
    static constexpr std::uint64_t MaxDataBytes = 0xFFFFFFFFu - 36;

    // Appends frames (2 samples each) to the samples not yet taken; false, appending nothing,
    // when the file would hold more than MaxDataBytes.
    bool write(const std::int16_t *samples, std::size_t frames);
    // Bytes of samples appended so far, taken or not.
    std::uint64_t dataBytes() const { return dataBytes_; }
    // Bytes of samples appended since the last takeSamples().
    qsizetype pendingBytes() const { return pending_.size(); }
    // The samples appended since the last call, as the file holds them (after the header); the
    // writer keeps none of them.
    QByteArray takeSamples();
    // The header of a file that holds the samples appended so far.
    QByteArray header() const;

private:
    QByteArray pending_;
    std::uint64_t dataBytes_ = 0;
};

} // namespace tool
