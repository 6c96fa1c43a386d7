#include "TestSupport.h"

#include "MidiMessages_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>

namespace miditest
{

int NotificationLog::count(Notification n) const
{
    return int(std::count(received.begin(), received.end(), n));
}

bool NotificationLog::event(QEvent *event)
{
    const auto *notification = midiout::NotificationEvent::from(event);
    if (notification == nullptr)
        return QObject::event(event);
    const Notification n = notification->notification();
    received.push_back(n);
    if (onNotification)
        onNotification(n);
    return true;
}

void pump()
{
    QCoreApplication::sendPostedEvents();
}

bool pumpUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!predicate() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    return predicate();
}

StreamBuilder &StreamBuilder::add(std::uint32_t delta, std::uint8_t status, std::uint8_t data1,
                                  std::uint8_t data2, bool callback)
{
    const std::size_t at = bytes_.size();
    bytes_.resize(at + midiout::StreamEvent::Size);
    midiout::StreamEvent::shortMessage(delta, status, data1, data2, callback)
        .encode(bytes_.data() + at);
    time_ += delta;
    return *this;
}

StreamBuilder &StreamBuilder::note(std::uint64_t tick, std::uint8_t channel, std::uint8_t key,
                                   std::uint64_t length)
{
    const std::uint8_t status = midiout::StatusByte(midiout::NoteOnStatus, channel);
    add(std::uint32_t(tick - time_), status, key, 127);
    return add(std::uint32_t(length), status, key, 0);
}

StreamBuilder tonePreamble(std::uint8_t program, bool sustain)
{
    namespace cc = midiout::controller;
    const std::uint8_t control = midiout::ControlChangeStatus;
    const std::uint8_t drumControl =
        midiout::StatusByte(midiout::ControlChangeStatus, midiout::PercussionChannel);
    StreamBuilder b;
    b.add(0, control, cc::ResetAllControllers, 0, true)
        .add(0, drumControl, cc::ResetAllControllers, 0);
    b.add(0, control, cc::RpnLow, 0)
        .add(0, control, cc::RpnHigh, 0)
        .add(0, control, cc::DataEntryHigh, 12);
    b.add(0, control, cc::RpnLow, 127).add(0, control, cc::RpnHigh, 127);
    b.add(0, control, cc::Pan, 64).add(0, control, cc::Volume, 127);
    b.add(0, control, cc::Sustain, sustain ? 127 : 0);
    b.add(0, control, cc::Reverb, 0).add(0, control, cc::Chorus, 0);
    b.add(0, midiout::ProgramChangeStatus, program);
    return b;
}

int peak(const std::vector<std::int16_t> &samples, std::size_t fromFrame, std::size_t toFrame)
{
    int result = 0;
    for (std::size_t i = 2 * fromFrame; i < std::min(2 * toFrame, samples.size()); ++i)
        result = std::max(result, std::abs(int(samples[i])));
    return result;
}

std::vector<std::size_t> onsets(const std::vector<std::int16_t> &samples, int detect, int start,
                                std::size_t gapFrames)
{
    const auto level = [&](std::size_t frame) {
        return std::max(std::abs(int(samples[2 * frame])), std::abs(int(samples[2 * frame + 1])));
    };
    std::vector<std::size_t> result;
    std::size_t quiet = gapFrames;
    for (std::size_t frame = 0; 2 * frame + 1 < samples.size(); ++frame) {
        if (level(frame) <= detect) {
            ++quiet;
            continue;
        }
        if (quiet >= gapFrames) {
            std::size_t first = frame - std::min<std::size_t>(frame, 441);
            while (first < frame && level(first) <= start)
                ++first;
            result.push_back(first);
        }
        quiet = 0;
    }
    return result;
}

int largestStep(const std::vector<std::int16_t> &samples, std::size_t fromFrame,
                std::size_t toFrame)
{
    int result = 0;
    for (std::size_t i = 2 * std::max<std::size_t>(fromFrame, 1);
         i < std::min(2 * toFrame, samples.size()); ++i)
        result = std::max(result, std::abs(int(samples[i]) - int(samples[i - 2])));
    return result;
}

std::size_t silentFrom(const std::vector<std::int16_t> &samples, std::size_t fromFrame,
                       int threshold)
{
    std::size_t result = fromFrame;
    for (std::size_t i = 2 * fromFrame; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > threshold)
            result = i / 2 + 1;
    return result;
}

bool readWav(const QString &path, std::vector<std::int16_t> &samples, int &channels,
             int &sampleRate)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = file.readAll();
    if (all.size() < 12 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE")
        return false;
    int bits = 0;
    for (qsizetype at = 12; at + 8 <= all.size();) {
        const QByteArray id = all.mid(at, 4);
        const auto size = qFromLittleEndian<quint32>(all.constData() + at + 4);
        const char *body = all.constData() + at + 8;
        if (at + 8 + qsizetype(size) > all.size())
            return false;
        if (id == "fmt ") {
            channels = qFromLittleEndian<quint16>(body + 2);
            sampleRate = int(qFromLittleEndian<quint32>(body + 4));
            bits = qFromLittleEndian<quint16>(body + 14);
        } else if (id == "data" && bits == 16) {
            samples.resize(size / 2);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = qFromLittleEndian<qint16>(body + 2 * i);
            return true;
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return false;
}

} // namespace miditest
