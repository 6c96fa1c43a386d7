// Playback state and the play-request steps around it. The device part (opening, timing,
// repeating and closing the stream through the MIDI output layer, and the notifications that
// drive it) comes with that layer; until then no stream is ever started, so every play request
// assembles its stream buffer and returns false.

#include "MidiGen.h"

namespace
{

// Process-wide: the identity handed to the next component, and the instance number of the
// component that last opened a stream (0: none yet; never reset).
quint32 instanceCounter = 1;
quint32 outputOwner = 0;

} // namespace

quint32 TMidiGen::takeInstanceNumber()
{
    return instanceCounter++;
}

TMidiGen::~TMidiGen()
{
    Stop();
}

bool TMidiGen::PrepareToPlay()
{
    // Refuses a request while the previous one has not begun to sound, or one nested in its
    // wait. Checking the device, stopping the old stream and waiting for it to close come with
    // the output layer; so does clearing the ready flag, which only a started stream's first
    // event sets again.
    if (!m_ready)
        return false;
    m_continue = false;
    return true;
}

bool TMidiGen::AssembleAndPlay(midigen::EventList list, bool bendAllowed)
{
    // Only one component at a time owns the output.
    if (outputOwner != 0 && outputOwner != m_instanceNumber)
        return false; // list released on return
    // The buffer of an earlier stream is released when that stream ends; with no device yet
    // this is the place where the previous assembly is let go.
    releaseStreamBuffer();
    AssembleStream(std::move(list), bendAllowed);
    // Opening the stream and handing the buffer over come with the output layer.
    return false;
}

bool TMidiGen::MidiAvailable()
{
    // Probing the device comes with the output layer; until then no device can be opened.
    return m_open;
}

bool TMidiGen::SetDevice(qint32 device)
{
    m_device = device;
    // Counting the devices comes with the output layer; until then none exists.
    return false;
}

void TMidiGen::Stop()
{
    m_continue = false;
    // Stopping an open stream that has begun to sound comes with the output layer.
}
