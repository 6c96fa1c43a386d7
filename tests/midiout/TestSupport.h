#pragma once

// Helpers of the midiout tests: a receiver that logs notifications, stream buffers, and the
// analysis of rendered audio.

#include <midiout/MidiMessages.h>
#include <midiout/Output.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace miditest
{

using midiout::Notification;

// Records the notifications posted to it; onNotification runs for each.
class NotificationLog : public QObject
{
public:
    std::vector<Notification> received;
    std::function<void(Notification)> onNotification;
    int count(Notification n) const;

protected:
    bool event(QEvent *event) override;
};

// Delivers the events posted to objects of this thread.
void pump();
// Pumps until predicate holds or timeoutMs passes; returns the predicate.
bool pumpUntil(const std::function<bool()> &predicate, int timeoutMs);

// Builds a buffer of stream events.
class StreamBuilder
{
public:
    StreamBuilder &add(std::uint32_t delta, std::uint8_t status, std::uint8_t data1,
                       std::uint8_t data2 = 0, bool callback = false);
    // Note on at `tick` with a note off `length` ticks later, at absolute ticks; call in order of
    // the note ons with lengths that do not overlap the next note on.
    StreamBuilder &note(std::uint64_t tick, std::uint8_t channel, std::uint8_t key,
                        std::uint64_t length);
    const std::vector<std::uint8_t> &bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t *data() const { return bytes_.data(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t time_ = 0;
};

// The controller preamble that the tone generator puts in front of its notes on channel 0, and a
// program change.
StreamBuilder tonePreamble(std::uint8_t program, bool sustain = false);

// Audio analysis of interleaved stereo 16-bit samples.
int peak(const std::vector<std::int16_t> &samples, std::size_t fromFrame, std::size_t toFrame);
// Attacks: where the level rises above `detect` after at least gapFrames frames at or below it,
// each placed at the first frame above `start` in the 10 ms before that rise.
std::vector<std::size_t> onsets(const std::vector<std::int16_t> &samples, int detect, int start,
                                std::size_t gapFrames);
// Largest difference between neighbouring samples of one channel.
int largestStep(const std::vector<std::int16_t> &samples, std::size_t fromFrame,
                std::size_t toFrame);
// First frame from which every sample stays at or below threshold (size in frames if none).
std::size_t silentFrom(const std::vector<std::int16_t> &samples, std::size_t fromFrame,
                       int threshold);

// Reads the 16-bit PCM data of a WAV file; false when it is not one.
bool readWav(const QString &path, std::vector<std::int16_t> &samples, int &channels,
             int &sampleRate);

} // namespace miditest
