#include "SoundFileWriter.h"

#include <algorithm>

namespace tool
{

namespace
{

// The bytes handed to the staged output at a time.
constexpr std::size_t GatherBytes = 1 << 20;

} // namespace

SoundFileWriter::SoundFileWriter(StagedOutput &file, const SoundFormat &format)
    : file_(file), format_(format)
{
    gathered_.reserve(GatherBytes);
}

SoundFileWriter::~SoundFileWriter()
{
    if (sound_ != nullptr)
        sf_close(sound_);
}

QByteArray SoundFileWriter::open()
{
    SF_VIRTUAL_IO io = {&SoundFileWriter::fileLength, &SoundFileWriter::seek,
                        &SoundFileWriter::read, &SoundFileWriter::writeBytes,
                        &SoundFileWriter::tell};
    SF_INFO info = {};
    info.samplerate = SampleRate;
    info.channels = Channels;
    info.format = format_.libraryFormat;
    sound_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
    if (sound_ == nullptr)
        return failure("cannot start the file");
    return {};
}

QByteArray SoundFileWriter::write(const std::int16_t *samples, std::size_t frames)
{
    if (sf_writef_short(sound_, samples, sf_count_t(frames)) != sf_count_t(frames))
        return failure("cannot write the sound");
    return {};
}

QByteArray SoundFileWriter::finish()
{
    const int closed = sf_close(sound_);
    sound_ = nullptr;
    if (!writeError_.isEmpty())
        return writeError_;
    if (closed != 0)
        return "cannot complete the file: " + QByteArray(sf_error_number(closed));
    return flush() ? QByteArray() : writeError_;
}

QByteArray SoundFileWriter::failure(const char *what) const
{
    if (!writeError_.isEmpty())
        return writeError_;
    return QByteArray(what) + " as " + format_.title + ": " + sf_strerror(sound_);
}

bool SoundFileWriter::flush()
{
    if (!writeError_.isEmpty())
        return false;
    if (gathered_.empty())
        return true;
    writeError_ =
        file_.writeAt(gatheredAt_, QByteArrayView(gathered_.data(), qsizetype(gathered_.size())));
    gathered_.clear();
    return writeError_.isEmpty();
}

sf_count_t SoundFileWriter::fileLength(void *self)
{
    return sf_count_t(static_cast<SoundFileWriter *>(self)->length_);
}

sf_count_t SoundFileWriter::seek(sf_count_t offset, int whence, void *self)
{
    auto *writer = static_cast<SoundFileWriter *>(self);
    const sf_count_t base = whence == SEEK_CUR   ? sf_count_t(writer->position_)
                            : whence == SEEK_END ? sf_count_t(writer->length_)
                                                 : 0;
    if (base + offset < 0)
        return -1;
    writer->position_ = std::uint64_t(base + offset);
    return sf_count_t(writer->position_);
}

sf_count_t SoundFileWriter::read(void *, sf_count_t, void *)
{
    // Written only: libsndfile reads nothing back of a file that it writes.
    return 0;
}

sf_count_t SoundFileWriter::writeBytes(const void *bytes, sf_count_t count, void *self)
{
    auto *writer = static_cast<SoundFileWriter *>(self);
    // Bytes that follow the gathered ones join them; any others start a new gathering.
    if (writer->gathered_.empty() ||
        writer->position_ != writer->gatheredAt_ + writer->gathered_.size()) {
        if (!writer->flush())
            return 0;
        writer->gatheredAt_ = writer->position_;
    }
    const auto *first = static_cast<const char *>(bytes);
    writer->gathered_.insert(writer->gathered_.end(), first, first + count);
    writer->position_ += std::uint64_t(count);
    writer->length_ = std::max(writer->length_, writer->position_);
    if (writer->gathered_.size() >= GatherBytes && !writer->flush())
        return 0;
    return count;
}

sf_count_t SoundFileWriter::tell(void *self)
{
    return sf_count_t(static_cast<SoundFileWriter *>(self)->position_);
}

} // namespace tool
