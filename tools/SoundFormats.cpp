#include "SoundFormats.h"

#include "Options.h"

#include <midiout/OfflineOutput.h>

#include <sndfile.h>

namespace tool
{

namespace
{

// A 16-bit stereo frame takes 4 bytes; a file whose sizes are 32-bit holds a little less than
// 4 GiB of them once its header is counted. The old formats whose header holds no size at all
// (IRCAM, PARIS, PVF) are held to the same bound.
constexpr std::uint64_t Frames32Bit = (0xFFFFFFFFu - 1024) / 4;

std::vector<SoundFormat> candidates()
{
    constexpr int Pcm16 = SF_FORMAT_PCM_16;
    return {
        {"wav", "WAV", {"wav"}, SF_FORMAT_WAV | Pcm16, Frames32Bit},
        {"flac", "FLAC", {"flac"}, SF_FORMAT_FLAC | Pcm16, 0},
        {"ogg", "Ogg Vorbis", {"ogg", "oga"}, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0},
        {"mp3", "MP3", {"mp3"}, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0},
        {"aiff", "AIFF", {"aiff", "aif"}, SF_FORMAT_AIFF | Pcm16, Frames32Bit},
        {"au", "AU", {"au", "snd"}, SF_FORMAT_AU | Pcm16, Frames32Bit},
        {"caf", "CAF", {"caf"}, SF_FORMAT_CAF | Pcm16, 0},
        {"w64", "Wave64", {"w64"}, SF_FORMAT_W64 | Pcm16, 0},
        {"rf64", "RF64", {"rf64"}, SF_FORMAT_RF64 | Pcm16, 0},
        {"voc", "VOC", {"voc"}, SF_FORMAT_VOC | Pcm16, Frames32Bit},
        {"nist", "NIST SPHERE", {"nist", "sph"}, SF_FORMAT_NIST | Pcm16, Frames32Bit},
        {"ircam", "IRCAM", {"sf"}, SF_FORMAT_IRCAM | Pcm16, Frames32Bit},
        {"avr", "AVR", {"avr"}, SF_FORMAT_AVR | Pcm16, Frames32Bit},
        {"paf", "PARIS", {"paf"}, SF_FORMAT_PAF | Pcm16, Frames32Bit},
        {"pvf", "PVF", {"pvf"}, SF_FORMAT_PVF | Pcm16, Frames32Bit},
        {"mat", "MAT5", {"mat"}, SF_FORMAT_MAT5 | Pcm16, Frames32Bit},
        // Samples alone, little-endian, for a program that is told their layout.
        {"raw", "raw", {"raw", "pcm"}, SF_FORMAT_RAW | Pcm16 | SF_ENDIAN_LITTLE, 0},
    };
}

bool writable(int libraryFormat)
{
    SF_INFO info = {};
    info.samplerate = midiout::OfflineOutput::SampleRate;
    info.channels = 2;
    info.format = libraryFormat;
    return sf_format_check(&info) != 0;
}

} // namespace

const std::vector<SoundFormat> &writableSoundFormats()
{
    static const std::vector<SoundFormat> formats = [] {
        std::vector<SoundFormat> found;
        for (SoundFormat &format : candidates()) {
            if (writable(format.libraryFormat))
                found.push_back(std::move(format));
        }
        return found;
    }();
    return formats;
}

QByteArray soundFormatNames()
{
    QByteArrayList names;
    for (const SoundFormat &format : writableSoundFormats())
        names.append(format.name);
    return names.join(", ");
}

const SoundFormat &chooseSoundFormat(const QByteArray &path, const QByteArray *formatName)
{
    const std::vector<SoundFormat> &formats = writableSoundFormats();
    if (formatName != nullptr) {
        for (const SoundFormat &format : formats) {
            if (format.name == formatName->toLower())
                return format;
        }
        throw UsageError("unknown sound format: " + *formatName + " (the formats are " +
                         soundFormatNames() + ")");
    }
    const qsizetype dot = path.lastIndexOf('.');
    if (path != "-" && dot > path.lastIndexOf('/')) {
        const QByteArray suffix = path.mid(dot + 1).toLower();
        for (const SoundFormat &format : formats) {
            if (format.suffixes.contains(suffix))
                return format;
        }
    }
    return formats.front();
}

} // namespace tool
