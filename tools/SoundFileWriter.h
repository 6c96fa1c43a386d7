#pragma once

// A sound file written by libsndfile into a verb's staged output: libsndfile's file calls go to
// StagedOutput through its virtual I/O, so that the file follows the tool's rules for every
// format (see OutputFile.h); they are gathered into large writes on the way.

#include "OutputFile.h"
#include "SoundFormats.h"

#include <midiout/OfflineOutput.h>

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sndfile.h>

namespace tool
{

class SoundFileWriter
{
public:
    static constexpr int SampleRate = midiout::OfflineOutput::SampleRate;
    static constexpr int Channels = 2;

    // Writes into file, which must be open, in format.
    SoundFileWriter(StagedOutput &file, const SoundFormat &format);
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter &) = delete;
    SoundFileWriter &operator=(const SoundFileWriter &) = delete;

    // Every call returns an empty text on success, else why it failed, in one line.
    // Writes the file's header.
    QByteArray open();
    // Appends frames of interleaved stereo samples (2 per frame).
    QByteArray write(const std::int16_t *samples, std::size_t frames);
    // Completes the file (the header's sizes, the encoder's last block) and hands every byte
    // to the staged output, which the caller then commits.
    QByteArray finish();

private:
    static sf_count_t fileLength(void *self);
    static sf_count_t seek(sf_count_t offset, int whence, void *self);
    static sf_count_t read(void *buffer, sf_count_t count, void *self);
    static sf_count_t writeBytes(const void *bytes, sf_count_t count, void *self);
    static sf_count_t tell(void *self);

    // Hands the gathered bytes to the staged output; false once a write has failed.
    bool flush();
    // Why libsndfile failed: the staged output's own reason when a write failed, else its own.
    QByteArray failure(const char *what) const;

    StagedOutput &file_;
    const SoundFormat &format_;
    SNDFILE *sound_ = nullptr;
    std::uint64_t position_ = 0; // where libsndfile writes next
    std::uint64_t length_ = 0;   // the file's length, gathered bytes included
    // Bytes not yet handed over, which belong at gatheredAt_; its memory is kept from one
    // gathering to the next (fresh pages would cost a fault each).
    std::vector<char> gathered_;
    std::uint64_t gatheredAt_ = 0;
    QByteArray writeError_; // why the staged output refused bytes
};

} // namespace tool
