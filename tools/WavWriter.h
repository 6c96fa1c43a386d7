#pragma once

// Writes 16-bit interleaved stereo PCM at 44,100 Hz into a WAV file.

#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace tool
{

class WavWriter
{
public:
    static constexpr int SampleRate = 44100;
    static constexpr int Channels = 2;

    WavWriter() = default;
    ~WavWriter(); // closes the file when close() was not called
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // Creates or truncates the file and writes a header; false with errorString() on failure.
    bool open(const QString &path);
    // Appends frames (2 samples each); false with errorString() on failure.
    bool write(const std::int16_t *samples, std::size_t frames);
    // Completes the header with the data size and closes the file.
    bool close();
    QString errorString() const { return error_; }

private:
    bool writeHeader(std::uint32_t dataBytes);
    bool fail();

    QFile file_;
    std::uint64_t dataBytes_ = 0;
    QString error_;
};

} // namespace tool
