#pragma once

// Runs the built midigen tool with arguments as raw bytes (file names need not be UTF-8) and a
// given standard input, and collects its output as bytes. A run that has not ended after the
// deadline is killed and reported as a hang. A test may act on the running tool (send it a
// signal) before its output is collected.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tooltest
{

struct ProcessRun {
    bool finished = false; // false: killed at the deadline
    int status = -1;       // exit status, -1 when the tool did not exit by itself
    int signal = 0;        // the signal that ended the tool, 0 when it exited
    std::string out;       // standard output
    std::string err;       // standard error

    // The lines of standard error.
    std::vector<std::string> errLines() const
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < err.size()) {
            const std::size_t end = std::min(err.find('\n', start), err.size());
            lines.push_back(err.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};

// extraEnvironment entries ("NAME=VALUE") are added to the test's own environment.
// whileRunning, when given, is called with the tool's pid once it runs, before its output is
// read (the tool's output beyond a pipe's capacity waits until it returns).
inline ProcessRun runToolProcess(const std::vector<std::string> &arguments,
                                 const std::string &input = {},
                                 const std::vector<std::string> &extraEnvironment = {},
                                 std::chrono::seconds deadline = std::chrono::seconds(20),
                                 const std::function<void(pid_t)> &whileRunning = {})
{
    ProcessRun run;
    // A tool that stops reading its input must not end the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> argumentStrings{MIDIGEN_TOOL};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &argument : argumentStrings)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentStrings(extraEnvironment);
    std::vector<char *> envp;
    for (char **entry = environ; *entry != nullptr; ++entry)
        envp.push_back(*entry);
    for (std::string &entry : environmentStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, MIDIGEN_TOOL, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "posix_spawn: " << std::strerror(spawned);
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }

    if (whileRunning)
        whileRunning(pid);

    // Feed the input and drain both outputs until they close or the deadline passes.
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    } else {
        ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    int outFds[2] = {out[0], err[0]};
    std::string *sinks[2] = {&run.out, &run.err};
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (outFds[0] >= 0 || outFds[1] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fds[3] = {{outFds[0], POLLIN, 0}, {outFds[1], POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (::poll(fds, 3, int(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            char block[65536];
            const ssize_t got = ::read(outFds[i], block, sizeof block);
            if (got > 0) {
                sinks[i]->append(block, std::size_t(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(outFds[i]);
                outFds[i] = -1;
            }
        }
        if (inFd >= 0 && fds[2].revents != 0) {
            const ssize_t put = ::write(inFd, input.data() + written, input.size() - written);
            if (put > 0)
                written += std::size_t(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
    }
    for (int fd : {outFds[0], outFds[1], inFd}) {
        if (fd >= 0)
            ::close(fd);
    }
    // Outputs closed: the tool is about to exit; still bounded by the deadline.
    int wstatus = 0;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) {
            run.finished = true;
            run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
            run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
            return run;
        }
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &wstatus, 0);
    return run;
}

} // namespace tooltest
