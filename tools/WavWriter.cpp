#include "WavWriter.h"

#include <QtEndian>

#include <cstring>
#include <utility>

namespace tool
{

bool WavWriter::write(const std::int16_t *samples, std::size_t frames)
{
    const std::uint64_t bytes = frames * BytesPerFrame;
    if (dataBytes_ + bytes > MaxDataBytes)
        return false;
    const qsizetype start = pending_.size();
    pending_.resize(start + qsizetype(bytes));
    char *out = pending_.data() + start;
    for (std::size_t i = 0; i < frames * Channels; ++i)
        qToLittleEndian(std::uint16_t(samples[i]), out + 2 * i);
    dataBytes_ += bytes;
    return true;
}

QByteArray WavWriter::takeSamples()
{
    QByteArray samples = std::move(pending_);
    pending_ = QByteArray();
    return samples;
}

QByteArray WavWriter::header() const
{
    const auto dataSize = std::uint32_t(dataBytes_);
    constexpr int BlockAlign = Channels * 2;
    QByteArray header(HeaderBytes, '\0');
    char *h = header.data();
    std::memcpy(h, "RIFF", 4);
    qToLittleEndian(std::uint32_t(36 + dataSize), h + 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian(std::uint32_t(16), h + 16);
    qToLittleEndian(std::uint16_t(1), h + 20); // PCM
    qToLittleEndian(std::uint16_t(Channels), h + 22);
    qToLittleEndian(std::uint32_t(SampleRate), h + 24);
    qToLittleEndian(std::uint32_t(SampleRate * BlockAlign), h + 28);
    qToLittleEndian(std::uint16_t(BlockAlign), h + 32);
    qToLittleEndian(std::uint16_t(16), h + 34);
    std::memcpy(h + 36, "data", 4);
    qToLittleEndian(dataSize, h + 40);
    return header;
}

} // namespace tool
