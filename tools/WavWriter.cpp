#include "WavWriter.h"

#include <QtEndian>

#include <cstring>

namespace tool
{

WavWriter::WavWriter() : file_(HeaderBytes, '\0') {}

bool WavWriter::write(const std::int16_t *samples, std::size_t frames)
{
    const std::size_t bytes = frames * Channels * 2;
    if (dataBytes() + bytes > MaxDataBytes)
        return false;
    const qsizetype start = file_.size();
    file_.resize(start + qsizetype(bytes));
    char *out = file_.data() + start;
    for (std::size_t i = 0; i < frames * Channels; ++i)
        qToLittleEndian(std::uint16_t(samples[i]), out + 2 * i);
    return true;
}

QByteArray WavWriter::take()
{
    const auto dataSize = std::uint32_t(dataBytes());
    constexpr int BlockAlign = Channels * 2;
    char *h = file_.data();
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
    QByteArray file = std::move(file_);
    file_ = QByteArray(HeaderBytes, '\0');
    return file;
}

} // namespace tool
