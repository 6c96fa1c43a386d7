#pragma once

// A test device whose time the test controls: it records every call on its streams and posts
// the notifications a real device would, when the test says that time has passed.

#include <midiout/Output.h>

#include <QCoreApplication>

#include <algorithm>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport
{

struct DeviceLog {
    std::vector<std::string> calls;                // every call on a stream, in order
    std::vector<std::vector<std::uint8_t>> queued; // copies of every queued buffer
    int opens = 0;
    int closes = 0;
    std::vector<int> probed;
};

// Failure switches of the test device.
struct DeviceFaults {
    bool probeFails = false;
    bool openFails = false;
    bool timeDivisionFails = false;
    bool queueFails = false;
    bool restartFails = false;
    // Not a fault: a device that plays a stream out as soon as it is restarted. It delivers the
    // open, first-event and close notifications at once, inside the call that causes them, and
    // posts the done notification at the restart, so that a play request never has to wait and
    // no other handler can run inside it.
    bool instant = false;
    // Not faults either: an output that answers an open when the test says (answerOpen()), as
    // one whose synthesizer or sound server is not ready yet does; and one whose close is told
    // once its sound has been heard (heard()), unless a stop cuts that sound first.
    bool opensLater = false;
    bool closesWhenHeard = false;
};

class TestStream : public midiout::Stream
{
public:
    TestStream(QObject *receiver, DeviceLog &log, const DeviceFaults &faults)
        : receiver_(receiver), log_(log), faults_(faults)
    {
    }
    void reset() override { log_.calls.push_back("reset"); }
    bool setTimeDivision(int ticks) override
    {
        log_.calls.push_back("timediv " + std::to_string(ticks));
        return !faults_.timeDivisionFails;
    }
    bool queue(const std::uint8_t *data, std::size_t length) override
    {
        log_.calls.push_back("queue");
        if (faults_.queueFails || queued_)
            return false;
        queued_ = true;
        log_.queued.emplace_back(data, data + length);
        return true;
    }
    bool restart() override
    {
        log_.calls.push_back("restart");
        if (faults_.restartFails)
            return false;
        if (faults_.instant) {
            deliver(receiver_, midiout::Notification::Position);
            endPass();
        }
        return true;
    }
    void stop() override
    {
        log_.calls.push_back("stop");
        if (unheard_) // what was left to be heard is cut: the close is told at once
            return heard();
        if (queued_) {
            queued_ = false;
            post(midiout::Notification::Done);
        }
    }
    void close() override
    {
        log_.calls.push_back("close");
        if (vanished_)
            return; // closed already
        ++log_.closes;
        if (faults_.closesWhenHeard) {
            unheard_ = true;
            return;
        }
        // The receiver may destroy this stream on its close: nothing of it is touched after.
        if (faults_.instant)
            deliver(receiver_, midiout::Notification::Close);
        else
            post(midiout::Notification::Close);
    }

    // What the device does as time passes.
    void answerOpen(bool opened)
    {
        post(opened ? midiout::Notification::Open : midiout::Notification::Close);
    }
    void heard()
    {
        if (unheard_) {
            unheard_ = false;
            post(midiout::Notification::Close);
        }
    }
    void reachFirstEvent() { post(midiout::Notification::Position); }
    // The queued buffer has played out; false (and nothing posted) when none was queued.
    bool endPass()
    {
        if (!queued_)
            return false;
        queued_ = false;
        post(midiout::Notification::Done);
        return true;
    }

    // The output goes away: the queued buffer comes back, then the stream closes by itself.
    void vanish()
    {
        endPass();
        vanished_ = true;
        post(midiout::Notification::Close);
    }

    // Hands a notification to receiver at once instead of posting it.
    static void deliver(QObject *receiver, midiout::Notification n)
    {
        midiout::NotificationEvent event(n);
        QCoreApplication::sendEvent(receiver, &event);
    }

private:
    void post(midiout::Notification n)
    {
        QCoreApplication::postEvent(receiver_, new midiout::NotificationEvent(n));
    }
    QObject *receiver_;
    DeviceLog &log_;
    const DeviceFaults &faults_;
    bool queued_ = false;
    bool vanished_ = false;
    bool unheard_ = false; // closed, its Close held until heard()
};

class TestOutput : public midiout::Output
{
public:
    int deviceCount() override { return 1; }
    QString deviceName(int device) override
    {
        return device == 0 || device == -1 ? QStringLiteral("test device") : QString();
    }
    bool probe(int device) override
    {
        log.probed.push_back(device);
        return !faults.probeFails && (device == 0 || device == -1);
    }
    std::unique_ptr<midiout::Stream> open(int device, QObject *receiver) override
    {
        if (faults.openFails || !(device == 0 || device == -1))
            return nullptr;
        ++log.opens;
        auto stream = std::make_unique<TestStream>(receiver, log, faults);
        current = stream.get();
        if (faults.instant)
            TestStream::deliver(receiver, midiout::Notification::Open);
        else if (!faults.opensLater)
            QCoreApplication::postEvent(
                receiver, new midiout::NotificationEvent(midiout::Notification::Open));
        return stream;
    }

    // The stream opened last (valid while it is open).
    TestStream *current = nullptr;
    DeviceLog log;
    DeviceFaults faults;
};

} // namespace testsupport
