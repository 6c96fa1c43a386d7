// midigen render as its users run it: every sound format read back by libsndfile (and the WAV by
// the tests' own reader) with its rate, channels and length; the format chosen by --format, by
// the suffix, or WAV; a bad format or SoundFont refused with nothing written; the progress line
// on a terminal and nothing on a pipe.

#include "TestSupport.h"
#include "tool_process.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pty.h>
#include <sys/wait.h>

using tooltest::ProcessRun;
using tooltest::runToolProcess;

namespace
{

const std::vector<std::string> Chord = {"render", "string", "C,E,G", "--set", "Duration=30"};

std::string contents(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A sound file as libsndfile reads it: its header's facts and its samples as 16-bit ones.
struct Sound {
    bool read = false;
    int format = 0; // container | encoding
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

Sound readSound(SNDFILE *file, const SF_INFO &info)
{
    Sound sound;
    if (file == nullptr)
        return sound;
    sound.read = true;
    sound.format = info.format;
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    sound.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
    sound.samples.resize(
        std::size_t(sf_read_short(file, sound.samples.data(), sf_count_t(sound.samples.size()))));
    sf_close(file);
    return sound;
}

Sound readSound(const std::string &path, int rawFormat = 0)
{
    SF_INFO info = {};
    if (rawFormat != 0) { // a file without header: its layout is told
        info.samplerate = 44100;
        info.channels = 2;
        info.format = rawFormat;
    }
    return readSound(sf_open(path.c_str(), SFM_READ, &info), info);
}

// Bytes in memory, read by libsndfile through its virtual I/O.
struct Memory {
    const std::string *bytes;
    sf_count_t at = 0;
};

Sound readSoundBytes(const std::string &bytes)
{
    static SF_VIRTUAL_IO io = {
        [](void *m) { return sf_count_t(static_cast<Memory *>(m)->bytes->size()); },
        [](sf_count_t offset, int whence, void *m) {
            auto *memory = static_cast<Memory *>(m);
            const sf_count_t base = whence == SEEK_CUR   ? memory->at
                                    : whence == SEEK_END ? sf_count_t(memory->bytes->size())
                                                         : 0;
            return memory->at = base + offset;
        },
        [](void *out, sf_count_t count, void *m) {
            auto *memory = static_cast<Memory *>(m);
            const sf_count_t left =
                std::max<sf_count_t>(0, sf_count_t(memory->bytes->size()) - memory->at);
            count = std::min(count, left);
            std::memcpy(out, memory->bytes->data() + memory->at, std::size_t(count));
            memory->at += count;
            return count;
        },
        [](const void *, sf_count_t, void *) { return sf_count_t(0); },
        [](void *m) { return static_cast<Memory *>(m)->at; },
    };
    Memory memory{&bytes};
    SF_INFO info = {};
    return readSound(sf_open_virtual(&io, SFM_READ, &info, &memory), info);
}

class Render : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/midigen-render-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir_ = folder;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The chord rendered into name in dir_ with the extra arguments; fails the test unless the
    // tool succeeds quietly.
    std::string render(const std::string &name, const std::vector<std::string> &extra = {})
    {
        std::vector<std::string> arguments = Chord;
        arguments.insert(arguments.begin() + 3, dir_ + '/' + name);
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const ProcessRun run = runToolProcess(arguments, {}, {}, std::chrono::seconds(60));
        EXPECT_TRUE(run.finished) << "the tool hung";
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return dir_ + '/' + name;
    }

    std::string dir_;
};

} // namespace

TEST_F(Render, EveryFormatReadsBackWithTheWavsRateChannelsAndLength)
{
    // The WAV as the tests' own reader sees it, and as libsndfile does.
    const std::string wavPath = render("chord.wav");
    std::vector<std::int16_t> wavSamples;
    int channels = 0, rate = 0;
    ASSERT_TRUE(miditest::readWav(QString::fromStdString(wavPath), wavSamples, channels, rate));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    const std::size_t frames = wavSamples.size() / 2;
    EXPECT_GT(frames, 44100 * 3 / 4) << "0.3 s of chord and half a second of silence at least";
    EXPECT_LT(frames, 44100 * 2);
    const Sound wav = readSound(wavPath);
    ASSERT_TRUE(wav.read);
    EXPECT_EQ(wav.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(wav.samples, wavSamples);

    const struct {
        const char *suffix;
        int format;
        bool lossless; // else the encoder's frames may be padded
    } formats[] = {
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
        {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
        {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {"AIF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true},
        {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, true},
        {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, true},
        {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, true},
        {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, true},
        {"voc", SF_FORMAT_VOC | SF_FORMAT_PCM_16, true},
        {"nist", SF_FORMAT_NIST | SF_FORMAT_PCM_16, true},
        {"sf", SF_FORMAT_IRCAM | SF_FORMAT_PCM_16, true},
        {"avr", SF_FORMAT_AVR | SF_FORMAT_PCM_16, true},
        {"paf", SF_FORMAT_PAF | SF_FORMAT_PCM_16, true},
        {"pvf", SF_FORMAT_PVF | SF_FORMAT_PCM_16, true},
        {"mat", SF_FORMAT_MAT5 | SF_FORMAT_PCM_16, true},
        {"raw", SF_FORMAT_RAW | SF_FORMAT_PCM_16, true},
        {"xyz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true}, // not a suffix of ours
    };
    for (const auto &f : formats) {
        SCOPED_TRACE(f.suffix);
        const std::string path = render(std::string("chord.") + f.suffix);
        const bool raw = (f.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW;
        const Sound sound = readSound(path, raw ? f.format | SF_ENDIAN_LITTLE : 0);
        ASSERT_TRUE(sound.read) << sf_strerror(nullptr);
        EXPECT_EQ(sound.format & (SF_FORMAT_TYPEMASK | SF_FORMAT_SUBMASK), f.format);
        EXPECT_EQ(sound.rate, 44100);
        EXPECT_EQ(sound.channels, 2);
        if (f.lossless) {
            // FLAC and the PCM formats: the very samples of the WAV (libsndfile reads AU,
            // NIST and the others in their own byte order).
            EXPECT_TRUE(sound.samples == wavSamples);
        } else {
            EXPECT_NEAR(double(sound.frames()), double(frames), 2 * 1152.0);
        }
    }
}

TEST_F(Render, FormatOptionChoosesOverTheSuffixAndForStandardOutput)
{
    const Sound wav = readSound(render("chord.wav"));
    ASSERT_TRUE(wav.read);
    // --format wins over the suffix, in any case.
    const Sound ogg = readSound(render("chord.wav", {"--format", "OGG"}));
    EXPECT_EQ(ogg.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);

    // Standard output: WAV, or what --format names; the same sound as into a file.
    std::vector<std::string> toStandardOutput = Chord;
    toStandardOutput.insert(toStandardOutput.begin() + 3, "-");
    const ProcessRun plain = runToolProcess(toStandardOutput);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.substr(0, 4), "RIFF");
    EXPECT_TRUE(readSoundBytes(plain.out).samples == wav.samples);
    toStandardOutput.insert(toStandardOutput.end(), {"--format", "flac"});
    const ProcessRun flac = runToolProcess(toStandardOutput);
    ASSERT_EQ(flac.status, 0) << flac.err;
    EXPECT_EQ(flac.out.substr(0, 4), "fLaC");
    const Sound fromPipe = readSoundBytes(flac.out);
    EXPECT_EQ(fromPipe.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_TRUE(fromPipe.samples == wav.samples) << "the length in the header is the whole";
}

TEST_F(Render, BadFormatOrSoundFontWritesNothing)
{
    const std::string out = dir_ + "/out.wav";
    std::ofstream(out, std::ios::binary) << "kept";
    const std::string notSoundFont = dir_ + "/not-a-soundfont.sf2";
    std::ofstream(notSoundFont, std::ios::binary) << std::string(4096, 'x');
    const std::string missing = dir_ + "/missing.sf2";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string message;
    } cases[] = {
        {{"render", "note", "60", out, "--format", "wma"},
         2,
         "midigen: unknown sound format: wma (the formats are wav, flac, ogg, "},
        {{"render", "note", "60", out, "--format", ""}, 2, "midigen: unknown sound format:  ("},
        {{"render", "note", "60", out, "--soundfont", missing},
         1,
         "midigen: nothing rendered: " + missing + " is missing"},
        {{"render", "note", "60", out, "--soundfont", notSoundFont},
         1,
         "midigen: nothing rendered: " + notSoundFont + " is damaged: not a SoundFont"},
        {{"render", "note", "60", out, "--soundfont", missing + "\xfe"},
         1,
         "midigen: nothing rendered: " + missing + "\xfe is missing"},
        {{"render", "note", "60", out, "--soundfont", ""},
         2,
         "midigen: the SoundFont file name is empty"},
        {{"play", "note", "60", "--soundfont", missing},
         1,
         "midigen: nothing played: " + missing + " is missing"},
        {{"export", "note", "60", out, "--soundfont", missing},
         2,
         "midigen: export note takes no option --soundfont"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const ProcessRun run = runToolProcess(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
        EXPECT_EQ(run.errLines().size(), 1u) << run.err;
        EXPECT_EQ(contents(out), "kept");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
    }
    // The lists of formats and of their suffixes are the help's.
    const ProcessRun help = runToolProcess({"--help"});
    EXPECT_NE(help.out.find("    flac    FLAC          .flac\n"), std::string::npos);
    EXPECT_NE(help.out.find("  --soundfont FILE"), std::string::npos);

    // A SoundFont that is sound: the render uses it (the system's, by another name, which is
    // not UTF-8: names are bytes).
    const std::string chosen = dir_ + "/\xff\xfe.sf2";
    std::filesystem::create_symlink(
        std::filesystem::canonical("/usr/share/sounds/sf2/default-GM.sf2"), chosen);
    const Sound withChosen = readSound(render("chosen.wav", {"--soundfont", chosen}));
    EXPECT_TRUE(withChosen.samples == readSound(render("default.wav")).samples);
}

namespace
{

// A render of ten minutes of a held note: long enough to show the progress line.
const std::vector<std::string> LongRender = {"render", "note", "60", "", "--set", "Duration=60000"};

} // namespace

TEST_F(Render, ProgressLineOnATerminalAndNothingOnAPipe)
{
    std::vector<std::string> arguments = LongRender;
    arguments[3] = dir_ + "/long.flac";
    std::vector<char *> argv{const_cast<char *>(MIDIGEN_TOOL)};
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Standard error (and output) a pseudo-terminal.
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0) << std::strerror(errno);
    if (pid == 0) {
        ::execv(MIDIGEN_TOOL, argv.data());
        ::_exit(127);
    }
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 1000) <= 0)
            continue;
        char block[4096];
        const ssize_t got = ::read(terminal, block, sizeof block);
        if (got <= 0) // EIO once the tool has gone
            break;
        shown.append(block, std::size_t(got));
    }
    ::close(terminal);
    int status = 0;
    if (std::chrono::steady_clock::now() >= deadline)
        ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the tool hung or crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << shown;

    // Lines that follow each other on one line, each over the one before, then blanks over the
    // last: share, tune length, speed and time left.
    ASSERT_EQ(shown.substr(0, 19), "\rmidigen: rendered ") << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
    const std::size_t last = shown.rfind("\rmidigen: rendered ");
    const std::size_t clear = shown.find('\r', last + 1);
    ASSERT_NE(clear, std::string::npos) << shown;
    const std::string lastLine = shown.substr(last + 1, clear - last - 1);
    EXPECT_NE(lastLine.find("% of 10:00, "), std::string::npos) << lastLine;
    EXPECT_NE(lastLine.find("x real time, "), std::string::npos) << lastLine;
    EXPECT_NE(lastLine.find(" left"), std::string::npos) << lastLine;
    EXPECT_EQ(shown.substr(clear), '\r' + std::string(lastLine.size(), ' ') + '\r')
        << "cleared at the end";
    const Sound sound = readSound(dir_ + "/long.flac");
    EXPECT_GE(sound.frames(), 600u * 44100);

    // A pipe: nothing.
    const ProcessRun piped = runToolProcess(arguments, {}, {}, std::chrono::seconds(120));
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
}
