#pragma once

// The sound file formats that render writes through libsndfile, and how a render chooses one:
// by --format, else by the output file's suffix, else WAV.

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <vector>

namespace tool
{

struct SoundFormat {
    QByteArray name;            // as --format takes it, e.g. "flac"
    QByteArray title;           // as messages name it, e.g. "FLAC"
    QList<QByteArray> suffixes; // the file name suffixes that choose it, without the dot
    int libraryFormat = 0;      // libsndfile's container and encoding
    // The most frames that a file of the format holds (its sizes are 32-bit), 0 for no bound.
    std::uint64_t mostFrames = 0;
};

// The formats that the libsndfile in use writes at 44,100 Hz in stereo, in the order that the
// help lists them; WAV first.
const std::vector<SoundFormat> &writableSoundFormats();

// The names of writableSoundFormats(), ", " between them.
QByteArray soundFormatNames();

// The format of a render into path: the one that formatName names when it is given (any case),
// else the one that path's suffix chooses (any case), else WAV (standard output, "-", has no
// suffix). UsageError, listing the formats, when formatName names none.
const SoundFormat &chooseSoundFormat(const QByteArray &path, const QByteArray *formatName);

} // namespace tool
