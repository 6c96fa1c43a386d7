#include "BackupRun.h"

#include "BackupFileWriter.h"
#include "BackupJingle.h"
#include "SharedRandom.h"
#include <midigen/MidiGen.h>

#include <QTimer>

namespace noggix
{

namespace
{

const QString NoItemsMessage = QStringLiteral("Please, select one or more items to backup!");
const QString NoPathMessage = QStringLiteral("Please, specify output file!");
const QString ItemFailureText = QStringLiteral(
    "Neuron chain read error! Please, contact your neurologist to fix this problem!");

// The text without the characters of code 32 or less at either end.
QString trimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= u' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

BackupRun::BackupRun(BackupRunView &view, TMidiGen &generator, RandomGenerator &random,
                     QObject *parent)
    : QObject(parent), view_(view), generator_(generator), random_(random), Timer1(new QTimer(this))
{
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TickInterval);
    Timer1->setTimerType(Qt::PreciseTimer);
    // Queued, so that the timer event has returned before the tick runs: a timer does not fire
    // again while its own event is being handled, and a tick must be able to run behind the
    // error box that an earlier tick keeps open.
    connect(Timer1, &QTimer::timeout, this, &BackupRun::timerDue, Qt::QueuedConnection);
}

void BackupRun::start()
{
    view_.EnableControls(false);
    if (!view_.confirmReady()) {
        view_.EnableControls(true);
        return;
    }

    // Set even when a check below stops the run.
    applyJingleSettings(generator_);

    FItems = view_.checkedItems();
    view_.setProgressMaximum(int(FItems.size()));

    if (FItems.isEmpty()) {
        view_.showCheckMessage(NoItemsMessage);
        view_.EnableControls(true);
        return;
    }
    if (trimControls(view_.backupPath()).isEmpty()) {
        view_.showCheckMessage(NoPathMessage);
        view_.EnableControls(true);
        return;
    }

    view_.setProgress(0);
    Timer1->start();
    tick();
}

void BackupRun::timerDue()
{
    if (Timer1->isActive())
        view_.reportFailures([this] { tick(); });
}

void BackupRun::tick()
{
    // Whether the jingle sounds does not steer the run.
    generator_.PlayString(BackupJingle);

    const int position = view_.progress();
    if (position < 0 || position >= FItems.size() || position >= view_.progressMaximum()) {
        // The bar is already full: this tick came while the error box of the last item is still
        // open. Nothing is left to back up; the tick that opened the box finishes the run.
        Timer1->stop();
        return;
    }

    view_.showItem(QStringLiteral("Backing up ") + FItems.at(position));
    view_.setProgress(position + 1);

    if (random_.draw(5) == 2) {
        // Ticks that fall due meanwhile run behind the box.
        view_.showItemFailure(ItemFailureText);
        Timer1->stop();
        view_.EnableControls(true);
    }

    if (view_.progress() == view_.progressMaximum()) {
        Timer1->stop();
        view_.reportFailures([this] { WriteBackupFile(view_.backupPath(), random_); });
        view_.EnableControls(true);
    }
}

void BackupRun::stop()
{
    Timer1->stop();
}

bool BackupRun::isRunning() const
{
    return Timer1->isActive();
}

} // namespace noggix
