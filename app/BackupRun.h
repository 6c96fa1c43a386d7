#pragma once

// A backup run: after the "Get ready!" dialog, the checked items go through a pretend backup, one
// per tick of Timer1, ten seconds apart. Each tick plays the jingle, names its item, steps the
// progress bar and fails at random one time in five; once the last item has been stepped, the
// backup file is written.

#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;
class TMidiGen;

namespace noggix
{

class RandomGenerator;

// What a run needs of the window that shows it.
class BackupRunView
{
public:
    // Shows the "Get ready!" dialog modally: true for "I'm ready!", false for "Cancel" or the
    // dialog's close box.
    virtual bool confirmReady() = 0;
    // The captions of the checked option boxes, in the boxes' creation order.
    virtual QStringList checkedItems() const = 0;
    // The path of the backup file as the path box holds it, untrimmed.
    virtual QString backupPath() const = 0;
    // Enables or disables the run controls: the path group, the options and "Noggix now!".
    virtual void EnableControls(bool enabled) = 0;
    // Shows a message of the run's own checks; returns once the user has closed it.
    virtual void showCheckMessage(const QString &text) = 0;
    // Shows the error box of an item that failed; returns once the user has closed it.
    virtual void showItemFailure(const QString &text) = 0;
    // The progress bar, the run's only cursor: its position is the number of items stepped so
    // far. A maximum below the position brings the position down to it.
    virtual int progress() const = 0;
    virtual int progressMaximum() const = 0;
    virtual void setProgress(int position) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    // Names the item being backed up ("Backing up " and its caption).
    virtual void showItem(const QString &text) = 0;
    // Runs work and shows whatever it throws as the failure report.
    virtual void reportFailures(const std::function<void()> &work) = 0;

protected:
    ~BackupRunView() = default;
};

class BackupRun : public QObject
{
    Q_OBJECT
public:
    static constexpr int TickInterval = 10000; // ms

    // A run shown by view, playing the jingle on generator and drawing from random; view,
    // generator and random must outlive the run's last tick. The timer is a child, named
    // "Timer1".
    BackupRun(BackupRunView &view, TMidiGen &generator, RandomGenerator &random,
              QObject *parent = nullptr);

    // Starts a run: the controls go off, the "Get ready!" dialog shows, the jingle's settings are
    // written, the checked items are taken and checked with the path; then the timer goes on
    // and the first tick runs at once. A cancelled or refused start gives the controls back.
    void start();
    // One step: plays the jingle, names the next item, steps the bar, draws; a draw of 2 shows
    // the error box and ends the run; a full bar ends it with the backup file. Ticks may nest,
    // one inside another's error box; a tick at a full bar names nothing and stops the timer.
    void tick();
    // Switches the timer off: no further tick comes from it.
    void stop();
    // The items of the current run, or of the last one.
    const QStringList &items() const { return FItems; }
    // True while the timer steps a run.
    bool isRunning() const;

private:
    // A tick of Timer1 as it arrives from the event queue; dropped once the timer is off.
    void timerDue();

    BackupRunView &view_;
    TMidiGen &generator_;
    RandomGenerator &random_;
    QStringList FItems;
    QTimer *Timer1;
};

} // namespace noggix
