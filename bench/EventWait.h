#pragma once

// Waits of the sound benchmarks that keep the Qt event loop turning and sleep between events: a
// 5 ms timer wakes the loop to look at the condition again. (processEvents with a time limit
// would spin, and a core spinning beside the audio path was enough to starve it.)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace bench
{

// Handles events until done() holds or ms have passed; returns done().
template <typename Predicate> bool pumpUntil(Predicate done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(5);
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

} // namespace bench
