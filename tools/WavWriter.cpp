#include "WavWriter.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace tool
{

namespace
{

void put16(char *p, std::uint16_t v)
{
    qToLittleEndian(v, p);
}

void put32(char *p, std::uint32_t v)
{
    qToLittleEndian(v, p);
}

} // namespace

WavWriter::~WavWriter()
{
    if (file_.isOpen())
        close();
}

bool WavWriter::fail()
{
    error_ = file_.errorString();
    file_.close();
    return false;
}

bool WavWriter::open(const QString &path)
{
    file_.setFileName(path);
    dataBytes_ = 0;
    error_.clear();
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail();
    return writeHeader(0);
}

bool WavWriter::writeHeader(std::uint32_t dataBytes)
{
    char h[44];
    const int blockAlign = Channels * 2;
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, Channels);
    put32(h + 24, SampleRate);
    put32(h + 28, SampleRate * blockAlign);
    put16(h + 32, blockAlign);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
    if (!file_.seek(0) || file_.write(h, sizeof h) != qint64(sizeof h))
        return fail();
    return true;
}

bool WavWriter::write(const std::int16_t *samples, std::size_t frames)
{
    if (!file_.isOpen()) {
        error_ = QStringLiteral("file not open");
        return false;
    }
    const std::size_t bytes = frames * Channels * 2;
    if (dataBytes_ + bytes > std::numeric_limits<std::uint32_t>::max() - 36) {
        error_ = QStringLiteral("WAV file too large");
        return false;
    }
    QByteArray data(qsizetype(bytes), Qt::Uninitialized);
    for (std::size_t i = 0; i < frames * Channels; ++i)
        put16(data.data() + 2 * i, std::uint16_t(samples[i]));
    if (file_.write(data) != qint64(bytes))
        return fail();
    dataBytes_ += bytes;
    return true;
}

bool WavWriter::close()
{
    if (!file_.isOpen())
        return error_.isEmpty();
    if (!writeHeader(std::uint32_t(dataBytes_)))
        return false;
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        return fail();
    return true;
}

} // namespace tool
