#pragma once

// The line on a terminal's standard error that tells how far a long render has come: the share
// of the tune rendered, the speed against real time and the time left. It shows once a render
// has run for a second, changes a few times a second and is cleared when the render ends, also
// when it fails. Where standard error is no terminal (a pipe, a file) nothing is printed.

#include <QByteArray>

#include <chrono>
#include <cstdint>

namespace tool
{

class RenderProgress
{
public:
    // A render of a tune that lasts tuneFrames at sampleRate (the sound that dies away after it
    // is not counted: the line says 100 % while that renders).
    RenderProgress(std::uint64_t tuneFrames, int sampleRate);
    ~RenderProgress(); // clears the line
    RenderProgress(const RenderProgress &) = delete;
    RenderProgress &operator=(const RenderProgress &) = delete;

    // renderedFrames have been rendered so far.
    void update(std::uint64_t renderedFrames);
    // Takes the line off the terminal.
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    bool terminal_ = false;
    std::uint64_t tuneFrames_;
    int sampleRate_;
    Clock::time_point start_;
    Clock::time_point next_; // when the line changes next
    unsigned calls_ = 0;
    qsizetype shown_ = 0; // the characters on the terminal now
};

} // namespace tool
