// Playback: the play-request steps around the stream, the notification handler that drives a
// stream once it has started, Stop, the device choice and destruction.

#include <midigen/MidiGen.h>

#include <midiout/Output.h>

#include <QCoreApplication>

namespace
{

// Process-wide: the identity handed to the next component. The output owner lives on the
// midiout::Output the component plays on.
quint32 instanceCounter = 1;

// Ticks per quarter note of every stream: at the default tempo of 500,000 us per quarter note
// one tick is 10 ms.
constexpr int TimeDivision = 50;

} // namespace

quint32 TMidiGen::takeInstanceNumber()
{
    return instanceCounter++;
}

template <typename Predicate> void TMidiGen::WaitUntil(Predicate done)
{
    // Every notification awaited here is posted at once by the call that causes it (open,
    // stop, close), so the wait ends; WaitForMoreEvents sleeps instead of spinning.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

TMidiGen::~TMidiGen()
{
    // The stream ends at once, also when its first event has not been reached yet (its pass
    // would otherwise have to play out first).
    EndStreamAndWait();
    delete m_notificationWindow;
}

bool TMidiGen::PrepareToPlay()
{
    // Refuses a request while the previous one has not begun to sound, or one nested in its
    // wait.
    if (!m_ready)
        return false;
    if (!MidiAvailable())
        return false;
    m_ready = false;
    m_continue = false;
    if (m_open && !m_closing) {
        m_stopRequested = true;
        m_stream->stop();
    }
    WaitUntil([this] { return !m_open; });
    return true;
}

bool TMidiGen::AssembleAndPlay(midigen::EventList list, bool bendAllowed)
{
    // Only one component at a time owns the output. A request that starts nothing leaves the
    // component ready for the next one.
    const quint32 owner = m_output.owner();
    if (owner != 0 && owner != m_instanceNumber) {
        m_ready = true;
        return false; // list released on return
    }
    AssembleStream(std::move(list), bendAllowed);
    WaitUntil([this] { return !m_open; });

    m_stream = m_output.open(m_device, m_notificationWindow);
    if (!m_stream) {
        releaseStreamBuffer();
        m_ready = true;
        return false;
    }
    WaitUntil([this] { return m_open; });
    m_output.setOwner(m_instanceNumber);
    m_stream->reset();
    if (!m_stream->setTimeDivision(TimeDivision))
        return AbandonStartedStream();

    m_header = {m_streamBuffer.data(), m_streamBuffer.size(), m_streamBuffer.size()};
    if (!m_stream->queue(m_header.data, m_header.bytesRecorded) || !m_stream->restart())
        return AbandonStartedStream();
    return true;
}

bool TMidiGen::AbandonStartedStream()
{
    EndStreamAndWait();
    m_ready = true;
    return false;
}

void TMidiGen::EndStreamAndWait()
{
    m_continue = false;
    if (m_open && !m_closing)
        EndStream();
    WaitUntil([this] { return !m_open; });
}

void TMidiGen::EndStream()
{
    m_closing = true;
    m_stream->stop();
    m_stream->reset();
    m_header = {};
    releaseStreamBuffer();
    m_stream->close();
}

void TMidiGen::HandleNotification(midiout::Notification notification)
{
    switch (notification) {
    case midiout::Notification::Open:
        m_open = true;
        m_isPlaying = true;
        m_continue = true;
        m_loopCounter = m_loops;
        break;
    case midiout::Notification::Position:
        // A first event reached after the stream was told to stop belongs to a stream that is
        // ending; it must not release a request that is still being prepared.
        if (!m_stopRequested)
            m_ready = true;
        break;
    case midiout::Notification::Done:
        if (m_closing || !m_stream)
            break;
        if (m_continue && m_loopCounter != 1) {
            m_stream->queue(m_header.data, m_header.bytesRecorded);
            m_stream->restart();
            if (m_loopCounter > 1)
                --m_loopCounter;
        } else {
            EndStream();
        }
        break;
    case midiout::Notification::Close:
        m_open = false;
        m_stream.reset();
        m_isPlaying = false;
        m_continue = false;
        m_closing = false;
        m_stopRequested = false;
        break;
    }
}

bool TMidiGen::MidiAvailable()
{
    if (m_open)
        return true;
    // Without an application object no notification could arrive, so nothing can be played.
    if (!QCoreApplication::instance())
        return false;
    return m_output.probe(m_device);
}

bool TMidiGen::SetDevice(qint32 device)
{
    m_device = device;
    const int count = m_output.deviceCount();
    return count > 0 && device < count;
}

void TMidiGen::Stop()
{
    m_continue = false;
    if (m_open && m_ready && !m_closing) {
        m_stopRequested = true;
        m_stream->stop();
    }
}
