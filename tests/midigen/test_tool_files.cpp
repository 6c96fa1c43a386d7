// What the midigen tool reads and writes, run as a process: outputs that are regular files,
// links, FIFOs, device nodes, standard output, a full disk and names that are not UTF-8; play
// strings from standard input and tunes cut at the stream's limit; SoundFonts and sound servers
// that are missing. Needs root for device nodes and mounts, which it makes in a mount namespace
// of its own.

#include "tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using tooltest::ProcessRun;
using tooltest::runToolProcess;

namespace
{

const std::string SoundFontFolder = "/usr/share/sounds/sf2";
const std::string DefaultSoundFont = SoundFontFolder + "/default-GM.sf2";
const std::string CompressedSoundFontFolder = "/usr/share/sounds/sf3";

std::string contents(const std::string &path, std::size_t most = std::string::npos)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes;
    char block[65536];
    while (bytes.size() < most && file.read(block, sizeof block).gcount() > 0)
        bytes.append(block, std::size_t(file.gcount()));
    return bytes.substr(0, most);
}

void put(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

mode_t typeOf(const std::string &path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

std::set<std::string> entries(const std::string &folder)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// What a case's setup and check share: its own folder, and a FIFO reader when it opened one.
struct Scene {
    std::string dir;
    int reader = -1;
    std::vector<std::string> mounts; // undone after the case, last first

    // Mounts source (a folder or file to bind, or a tmpfs) on target for this case.
    bool mount(const std::string &source, const std::string &target, const char *type,
               unsigned long flags, const char *data = nullptr)
    {
        if (::mount(source.c_str(), target.c_str(), type, flags, data) != 0) {
            ADD_FAILURE() << "mount " << target << ": " << std::strerror(errno);
            return false;
        }
        mounts.push_back(target);
        return true;
    }
};

struct Case {
    const char *what;
    std::function<void(Scene &)> setup; // may be empty
    std::vector<std::string> arguments; // "@" stands for the case's folder
    std::string input;
    int status;
    std::string errPart; // empty: nothing on stderr; else one line holding it
    std::function<void(const Scene &, const ProcessRun &)> check;
    std::vector<std::string> environment = {};
};

} // namespace

TEST(ToolFiles, WhatTheToolReadsAndWrites)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "device nodes and mounts need root";
    // Mounts made below (a full disk, a damaged SoundFont) are seen by this process and the tool
    // only, and go with them.
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << std::strerror(errno);
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0)
        << std::strerror(errno);

    char folderTemplate[] = "/tmp/midigen-files-XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string top = folderTemplate;

    // The outputs that the cases compare with, written to fresh regular files.
    const auto reference = [&top](const std::vector<std::string> &arguments) {
        const std::string path = top + "/reference";
        std::vector<std::string> withPath = arguments;
        withPath.push_back(path);
        const ProcessRun run = runToolProcess(withPath);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string bytes = contents(path);
        std::filesystem::remove(path);
        return bytes;
    };
    const std::string noteFile = reference({"export", "note", "60"});
    const std::string chordFile = reference({"export", "string", "C,E,G"});
    ASSERT_EQ(noteFile.substr(0, 4), "MThd");
    ASSERT_EQ(chordFile.substr(0, 4), "MThd");
    const std::string kept(1000, 'k'); // what a failure must leave
    std::string longTune;
    for (int i = 0; i < 3000; ++i)
        longTune += "C,50;";
    std::string soundFontStart = contents(DefaultSoundFont, 100000);
    ASSERT_EQ(soundFontStart.size(), 100000u);

    const auto keptFile = [&kept](Scene &scene) { put(scene.dir + "/out", kept); };
    const auto keptAlone = [&kept](const Scene &scene, const ProcessRun &) {
        EXPECT_EQ(contents(scene.dir + "/out"), kept);
        EXPECT_EQ(entries(scene.dir), std::set<std::string>{"out"}) << "nothing left beside it";
    };
    const auto makeNode = [](Scene &scene) {
        ASSERT_EQ(::mknod((scene.dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    };
    const auto nodeStays = [](const Scene &scene, const ProcessRun &) {
        struct stat status;
        ASSERT_EQ(::lstat((scene.dir + "/null").c_str(), &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
        EXPECT_EQ(status.st_rdev, makedev(1, 3));
    };
    const auto makeFifo = [](Scene &scene) {
        ASSERT_EQ(::mkfifo((scene.dir + "/fifo").c_str(), 0644), 0);
    };
    const auto fifoStays = [](const Scene &scene, const ProcessRun &run) {
        EXPECT_EQ(typeOf(scene.dir + "/fifo"), mode_t(S_IFIFO));
        EXPECT_TRUE(run.finished) << "the tool waited for a reader";
    };
    const auto fileIs = [](const std::string &name, const std::string &bytes) {
        return [name, bytes](const Scene &scene, const ProcessRun &) {
            EXPECT_EQ(typeOf(scene.dir + '/' + name), mode_t(S_IFREG));
            EXPECT_TRUE(contents(scene.dir + '/' + name) == bytes);
        };
    };
    const auto outIs = [](const std::string &bytes) {
        return [bytes](const Scene &, const ProcessRun &run) { EXPECT_TRUE(run.out == bytes); };
    };
    const auto isWav = [](const std::string &bytes) {
        return bytes.size() > 44 && bytes.compare(0, 4, "RIFF") == 0 &&
               bytes.compare(8, 8, "WAVEfmt ") == 0;
    };
    // The system's SoundFont folder replaced by one whose default SoundFont is cut short, and
    // that holds a sound one too when alsoSound; the compressed alternative hidden.
    const auto damageSoundFont = [&soundFontStart](Scene &scene, bool alsoSound) {
        const std::string folder = scene.dir + "-sf2";
        std::filesystem::create_directory(folder);
        if (std::filesystem::exists(CompressedSoundFontFolder)) {
            std::filesystem::create_directory(scene.dir + "-sf3");
            scene.mount(scene.dir + "-sf3", CompressedSoundFontFolder, nullptr, MS_BIND);
        }
        put(folder + "/default-GM.sf2", soundFontStart);
        if (alsoSound) {
            put(folder + "/sound.sf2", {});
            scene.mount(std::filesystem::canonical(DefaultSoundFont), folder + "/sound.sf2",
                        nullptr, MS_BIND);
        }
        scene.mount(folder, SoundFontFolder, nullptr, MS_BIND | MS_REC);
    };
    const std::string damaged =
        "no SoundFont: " + DefaultSoundFont + " is damaged: cut short at 100,000 of ";
    const std::string noReader = "/fifo: no process reads the FIFO";

    std::vector<Case> cases = {
        // Not regular files: written in place, never replaced, never waited for.
        {"export into a device node",
         makeNode,
         {"export", "note", "60", "@/null"},
         {},
         0,
         {},
         nodeStays},
        {"render into a device node",
         makeNode,
         {"render", "note", "60", "@/null"},
         {},
         0,
         {},
         nodeStays},
        {"export into a FIFO without a reader",
         makeFifo,
         {"export", "note", "60", "@/fifo"},
         {},
         1,
         noReader,
         fifoStays},
        {"render into a FIFO without a reader",
         makeFifo,
         {"render", "note", "60", "@/fifo"},
         {},
         1,
         noReader,
         fifoStays},
        {"export into a FIFO that is read",
         [makeFifo](Scene &scene) {
             makeFifo(scene);
             scene.reader = ::open((scene.dir + "/fifo").c_str(), O_RDONLY | O_NONBLOCK);
             ASSERT_GE(scene.reader, 0);
         },
         {"export", "note", "60", "@/fifo"},
         {},
         0,
         {},
         [&](const Scene &scene, const ProcessRun &run) {
             fifoStays(scene, run);
             char block[4096];
             const ssize_t got = ::read(scene.reader, block, sizeof block);
             EXPECT_TRUE(got > 0 && std::string(block, std::size_t(got)) == noteFile);
         }},
        {"export to /dev/stdout, a pipe",
         {},
         {"export", "note", "60", "/dev/stdout"},
         {},
         0,
         {},
         outIs(noteFile)},

        // Regular files: replaced whole, keeping their permissions; links followed.
        {"export over a file keeps its permissions",
         [](Scene &scene) {
             put(scene.dir + "/out", "old");
             ::chmod((scene.dir + "/out").c_str(), 0640);
         },
         {"export", "note", "60", "@/out"},
         {},
         0,
         {},
         [&](const Scene &scene, const ProcessRun &run) {
             fileIs("out", noteFile)(scene, run);
             struct stat status;
             ASSERT_EQ(::stat((scene.dir + "/out").c_str(), &status), 0);
             EXPECT_EQ(status.st_mode & 07777, 0640u);
             EXPECT_EQ(entries(scene.dir), std::set<std::string>{"out"});
         }},
        {"export through a symbolic link writes its target",
         [](Scene &scene) {
             put(scene.dir + "/target", "old");
             std::filesystem::create_symlink("target", scene.dir + "/link");
         },
         {"export", "note", "60", "@/link"},
         {},
         0,
         {},
         [&](const Scene &scene, const ProcessRun &run) {
             fileIs("target", noteFile)(scene, run);
             EXPECT_EQ(typeOf(scene.dir + "/link"), mode_t(S_IFLNK));
         }},
        {"a file name that is not UTF-8",
         {},
         {"export", "note", "60", "@/\xff\xfe.mid"},
         {},
         0,
         {},
         [&](const Scene &scene, const ProcessRun &run) {
             fileIs("\xff\xfe.mid", noteFile)(scene, run);
             EXPECT_EQ(entries(scene.dir), std::set<std::string>{"\xff\xfe.mid"});
         }},

        // Failures leave an existing file byte for byte.
        {"render of a play string without an event",
         keptFile,
         {"render", "string", ",,", "@/out"},
         {},
         1,
         "nothing rendered: the play string holds no event",
         keptAlone},
        {"render of an endless stream",
         keptFile,
         {"render", "note", "60", "@/out", "--set", "Loops=0"},
         {},
         2,
         "Loops must not be 0",
         keptAlone},
        {"render of a sound longer than a WAV file holds",
         keptFile,
         {"render", "note", "60", "@/out", "--set", "Duration=2147483647"},
         {},
         1,
         "nothing rendered: the sound is longer than a WAV file holds (24347 s)",
         keptAlone},
        {"render that cannot fit, refused before the synthesizer is asked for a sound",
         [&](Scene &scene) {
             damageSoundFont(scene, false);
             keptFile(scene);
         },
         {"render", "note", "60", "@/out", "--set", "Loops=4294967295"},
         {},
         1,
         "nothing rendered: the sound is longer than a WAV file holds",
         keptAlone},
        {"render onto a full disk",
         [&](Scene &scene) {
             scene.mount("tmpfs", scene.dir, "tmpfs", 0, "size=64k");
             keptFile(scene);
         },
         {"render", "note", "60", "@/out"},
         {},
         1,
         "No space left on device",
         keptAlone},
        {"render in FLAC onto a full disk",
         [&](Scene &scene) {
             scene.mount("tmpfs", scene.dir, "tmpfs", 0, "size=64k");
             keptFile(scene);
         },
         {"render", "note", "60", "@/out", "--format", "flac", "--set", "Duration=3000"},
         {},
         1,
         "No space left on device",
         keptAlone},
        {"render with a damaged SoundFont",
         [&](Scene &scene) {
             damageSoundFont(scene, false);
             keptFile(scene);
         },
         {"render", "note", "60", "@/out"},
         {},
         1,
         "nothing rendered: the offline synthesizer has " + damaged,
         keptAlone},
        {"play with a damaged SoundFont: one line of ours",
         [&](Scene &scene) { damageSoundFont(scene, false); },
         {"play", "note", "60"},
         {},
         1,
         "nothing played: the built-in synthesizer has " + damaged,
         {}},
        {"render with a damaged SoundFont beside a sound one",
         [&](Scene &scene) { damageSoundFont(scene, true); },
         {"render", "note", "60", "@/out.wav"},
         {},
         0,
         DefaultSoundFont + " is damaged: cut short at 100,000 of ",
         [&](const Scene &scene, const ProcessRun &run) {
             EXPECT_TRUE(isWav(contents(scene.dir + "/out.wav")));
             EXPECT_NE(run.err.find("; " + SoundFontFolder + "/sound.sf2 is used instead"),
                       std::string::npos);
         }},

        // "-": standard output, and the play string from standard input.
        {"export to standard output",
         {},
         {"export", "note", "60", "-"},
         {},
         0,
         {},
         outIs(noteFile)},
        {"export of standard input",
         {},
         {"export", "string", "-", "@/in.mid"},
         "C,E,G\n",
         0,
         {},
         fileIs("in.mid", chordFile)},
        {"render of standard input to standard output",
         {},
         {"render", "string", "-", "-"},
         "C",
         0,
         {},
         [&](const Scene &scene, const ProcessRun &run) {
             EXPECT_TRUE(isWav(run.out));
             EXPECT_TRUE(entries(scene.dir).empty());
         }},

        // A tune longer than a stream: written as played, the cut said.
        {"a tune cut at the stream's limit",
         {},
         {"export", "string", "-", "@/long.mid"},
         longTune,
         0,
         "the tune is cut at the stream's limit of 5,461 events: 277 of its 3,000 notes are "
         "left out, and 1 note played has no end",
         [](const Scene &scene, const ProcessRun &) {
             EXPECT_GT(contents(scene.dir + "/long.mid").size(), 5461u * 3);
         }},
        {"the cut said by dump too",
         {},
         {"dump", "string", "-"},
         longTune,
         0,
         "277 of its 3,000 notes are left out",
         [](const Scene &, const ProcessRun &run) {
             EXPECT_NE(run.out.find("events 5461 bytes 65532\n"), std::string::npos);
         }},

        // Bad input: exit 2, nothing written.
        {"an option the verb does not read",
         {},
         {"export", "note", "60", "@/out", "--device", "0"},
         {},
         2,
         "export note takes no option --device",
         [](const Scene &scene, const ProcessRun &) { EXPECT_TRUE(entries(scene.dir).empty()); }},
        {"an empty output path",
         {},
         {"render", "note", "60", ""},
         {},
         2,
         "the output file name is empty",
         {}},
    };
    // Nothing to play on: the sound server named. (A machine with a sound card plays through
    // ALSA instead.)
    const bool soundCard =
        std::filesystem::exists("/dev/snd") &&
        std::ranges::any_of(std::filesystem::directory_iterator("/dev/snd"), [](const auto &entry) {
            const std::string name = entry.path().filename().string();
            return name.starts_with("pcmC") && name.ends_with('p');
        });
    if (!soundCard) {
        cases.push_back({"play without a sound server",
                         {},
                         {"play", "note", "60"},
                         {},
                         1,
                         "cannot sound: no sound server answers",
                         {},
                         {"PULSE_SERVER=unix:/nonexistent/socket"}});
    }

    int number = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        scene.dir = top + '/' + std::to_string(++number);
        ASSERT_TRUE(std::filesystem::create_directory(scene.dir));
        if (c.setup)
            c.setup(scene);
        std::vector<std::string> arguments;
        for (const std::string &argument : c.arguments)
            arguments.push_back(argument.starts_with('@') ? scene.dir + argument.substr(1)
                                                          : argument);
        const ProcessRun run = runToolProcess(arguments, c.input, c.environment);
        EXPECT_TRUE(run.finished) << "the tool hung";
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::vector<std::string> lines = run.errLines();
        if (c.errPart.empty()) {
            EXPECT_TRUE(lines.empty()) << run.err;
        } else if (lines.size() != 1) {
            ADD_FAILURE() << "one line expected on stderr, got: " << run.err;
        } else {
            EXPECT_EQ(lines[0].rfind("midigen: ", 0), 0u) << lines[0];
            EXPECT_NE(lines[0].find(c.errPart), std::string::npos) << lines[0];
        }
        if (c.check)
            c.check(scene, run);
        if (scene.reader >= 0)
            ::close(scene.reader);
        // Mounts of the case end with it.
        for (auto mount = scene.mounts.rbegin(); mount != scene.mounts.rend(); ++mount)
            EXPECT_EQ(::umount2(mount->c_str(), MNT_DETACH), 0) << *mount;
    }
    std::filesystem::remove_all(top);
}
