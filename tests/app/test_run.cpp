// Backup runs through the real main window: the checks, Cancel, complete runs, failures of the
// items and of the file, and ticks behind an open error box.

#include "AppSetup.h"
#include "BackupFileWriter.h"
#include "MainWindow.h"
#include "SharedRandom.h"
#include "TestOutput.h"
#include "TestSupport.h"
#include <midigen/MidiGen.h>

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <functional>

using testsupport::ClickOk;
using testsupport::ClickReady;
using testsupport::ModalHandler;
using testsupport::Part;

namespace
{

const char *const ErrorText =
    "Neuron chain read error! Please, contact your neurologist to fix this problem!";

// The main window, its jingle played on a test device that reaches the first event of every
// stream at once, with a handle on the parts the tests read.
struct Window {
    testsupport::TestOutput output = [] {
        testsupport::TestOutput o;
        o.faults.instant = true;
        return o;
    }();
    std::unique_ptr<TfrmMain> w = noggix::createApplicationWindows(output);
    QLineEdit *path = Part<QLineEdit>(w.get(), "edtSaveTo");
    QLabel *label = Part<QLabel>(w.get(), "Label1");
    QProgressBar *bar = Part<QProgressBar>(w.get(), "ProgressBar1");
    QTimer *timer = Part<QTimer>(w.get(), "Timer1");
    TMidiGen *midi = &w->midiGen();

    // Jingles started so far: each tick's play request opens a stream of its own.
    int playRequests() const { return output.log.opens; }
    // The last stream handed to the device is the jingle's: 29 events behind the program
    // change 94 that the play string begins with.
    bool lastStreamIsTheJingle() const
    {
        if (output.log.queued.empty())
            return false;
        const auto &stream = output.log.queued.back();
        return stream.size() == 29 * 12 && stream[15 * 12 + 8] == 0xC0 && stream[15 * 12 + 9] == 94;
    }

    // Checks exactly the boxes with the given numbers.
    void check(std::initializer_list<int> numbers) const
    {
        for (int i = 1; i <= 18; ++i)
            box(i)->setChecked(std::find(numbers.begin(), numbers.end(), i) != numbers.end());
    }
    void checkFirst(int n) const
    {
        for (int i = 1; i <= 18; ++i)
            box(i)->setChecked(i <= n);
    }
    QCheckBox *box(int i) const
    {
        return Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i)));
    }
    // The enabled state of the path group, the options and "Noggix now!", which move together.
    bool runControlsEnabled() const
    {
        const bool saveTo = Part<QGroupBox>(w.get(), "gbxSaveTo")->isEnabled();
        const bool options = Part<QGroupBox>(w.get(), "gbxOptions")->isEnabled();
        const bool backup = Part<QPushButton>(w.get(), "btnBackup")->isEnabled();
        if (saveTo != options || options != backup)
            qFatal("run controls out of step");
        return backup;
    }
    void clickBackup() const { Part<QPushButton>(w.get(), "btnBackup")->click(); }
};

QString Temp(const QString &name)
{
    return testsupport::TestDocuments() + u'/' + name;
}

// The generator's state after n more draws.
quint32 StateAfter(quint32 draws, noggix::RandomGenerator random = noggix::sharedRandom())
{
    for (quint32 i = 0; i < draws; ++i)
        random.draw(5);
    return random.state();
}

} // namespace

class RunTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { noggix::sharedRandom() = noggix::RandomGenerator(); }

    void checksComeBeforeTheRunAndLeaveTheSettingsSet();
    void cancelChangesNothingButTheEnabledState();
    void oneItemRunCompletesWithinTheClick();
    void itemsAreTakenInCreationOrder();
    void failureOnTheLastItemWritesTheFileAfterTheBox();
    void fileFailuresAreReportedAndTheControlsComeBack();
    void ticksGoOnBehindAnOpenErrorBox();
    void tickAtAFullBarReadsNoItem();
    void focusStaysOffExitAndComesBack();
};

void RunTest::checksComeBeforeTheRunAndLeaveTheSettingsSet()
{
    Window win;
    ModalHandler handler;
    win.check({});
    win.path->setText(QString());
    handler.expect(ClickReady);
    handler.expect(ClickOk);
    win.clickBackup();
    QCOMPARE(handler.pending(), 0);
    QCOMPARE(handler.seen().size(), 1); // the path is not looked at
    QCOMPARE(handler.seen()[0].text, QStringLiteral("Please, select one or more items to backup!"));
    QCOMPARE(handler.seen()[0].title, QStringLiteral("Noggix"));
    QCOMPARE(handler.seen()[0].icon, QMessageBox::NoIcon);
    QVERIFY(win.runControlsEnabled());
    QCOMPARE(win.bar->maximum(), 0);
    QCOMPARE(win.midi->Modulation(), 100);
    QCOMPARE(win.midi->Sustain(), true);
    QCOMPARE(win.midi->PitchBend(), 0);
    QCOMPARE(win.midi->Duration(), 400u);
    QCOMPARE(win.midi->Loops(), 1u);

    win.check({3});
    win.path->setText(QStringLiteral(" \t  "));
    handler.expect(ClickReady);
    handler.expect(ClickOk);
    win.clickBackup();
    QCOMPARE(handler.seen().size(), 2);
    QCOMPARE(handler.seen()[1].text, QStringLiteral("Please, specify output file!"));
    QVERIFY(win.runControlsEnabled());
    QVERIFY(!win.timer->isActive());
    QCOMPARE(win.label->text(), QStringLiteral("Idle"));
    QCOMPARE(win.playRequests(), 0);
}

void RunTest::cancelChangesNothingButTheEnabledState()
{
    Window win;
    ModalHandler handler;
    bool disabledMeanwhile = false;
    handler.expect([&](QWidget *dialog) {
        disabledMeanwhile = !win.runControlsEnabled() &&
                            Part<QPushButton>(win.w.get(), "btnHome")->isEnabled() &&
                            Part<QPushButton>(win.w.get(), "btnExit")->isEnabled();
        testsupport::ClickCancel(dialog);
    });
    handler.expect([](QWidget *dialog) { dialog->close(); });
    win.clickBackup();
    win.clickBackup();
    QCOMPARE(handler.pending(), 0);
    QVERIFY(disabledMeanwhile);
    QVERIFY(win.runControlsEnabled());
    QCOMPARE(win.midi->Modulation(), 0);
    QCOMPARE(win.midi->Duration(), 50u);
    QCOMPARE(win.label->text(), QStringLiteral("Idle"));
    QCOMPARE(win.bar->maximum(), 10);
    QVERIFY(!win.timer->isActive());
}

void RunTest::oneItemRunCompletesWithinTheClick()
{
    Window win;
    ModalHandler handler;
    win.check({2});
    QFile::remove(win.path->text());
    handler.expect(ClickReady);
    win.clickBackup();

    QCOMPARE(handler.pending(), 0);
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(win.path->text())));
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Teenage memory"));
    QCOMPARE(win.bar->value(), 1);
    QCOMPARE(win.bar->maximum(), 1);
    QVERIFY(!win.timer->isActive());
    QVERIFY(win.runControlsEnabled());
    QCOMPARE(win.playRequests(), 1);
    QVERIFY(win.lastStreamIsTheJingle());

    // Again, over a path with blanks around the name: written under the untrimmed text, and
    // the new run starts its bar from 0.
    noggix::sharedRandom() = noggix::RandomGenerator();
    win.check({1, 4});
    win.path->setText(QStringLiteral("  spaced.brains  "));
    handler.expect(ClickReady);
    win.clickBackup();
    QCOMPARE(win.bar->value(), 1);
    QCOMPARE(win.bar->maximum(), 2);
    QVERIFY(win.timer->isActive());
    win.w->Timer1Timer();
    QVERIFY(!win.timer->isActive());
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Bad habits"));
    QVERIFY(
        testsupport::IsBackupContent(testsupport::ReadFile(QStringLiteral("  spaced.brains  "))));
}

void RunTest::itemsAreTakenInCreationOrder()
{
    Window win;
    ModalHandler handler;
    win.check({10, 7}); // "Complexes" stands above "Professional skills"
    handler.expect(ClickReady);
    win.clickBackup();
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Professional skills"));
    win.w->Timer1Timer();
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Complexes"));
}

void RunTest::failureOnTheLastItemWritesTheFileAfterTheBox()
{
    Window win;
    ModalHandler handler;
    win.checkFirst(10); // the tenth draw of a fresh generator is the failing one
    win.path->setText(Temp(QStringLiteral("last.brains")));
    bool fileBeforeClose = true;
    handler.expect(ClickReady);
    handler.expect([&](QWidget *box) {
        fileBeforeClose = QFile::exists(Temp(QStringLiteral("last.brains")));
        ClickOk(box);
    });
    win.clickBackup();
    for (int tick = 2; tick <= 10; ++tick) {
        QVERIFY(win.timer->isActive());
        win.w->Timer1Timer();
    }
    QCOMPARE(handler.pending(), 0);
    QCOMPARE(handler.seen().back().text, QString::fromLatin1(ErrorText));
    QCOMPARE(handler.seen().back().title, QStringLiteral("Error"));
    QCOMPARE(handler.seen().back().icon, QMessageBox::Critical);
    QVERIFY(!fileBeforeClose);
    QVERIFY(
        testsupport::IsBackupContent(testsupport::ReadFile(Temp(QStringLiteral("last.brains")))));
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Complexes"));
    QVERIFY(!win.timer->isActive());
    QVERIFY(win.runControlsEnabled());
}

void RunTest::fileFailuresAreReportedAndTheControlsComeBack()
{
    Window win;
    ModalHandler handler;
    win.check({1});
    const QString missing = Temp(QStringLiteral("no/such/folder/x.brains"));
    win.path->setText(missing);
    bool disabledDuringReport = false;
    handler.expect(ClickReady);
    handler.expect([&](QWidget *box) {
        disabledDuringReport = !win.runControlsEnabled();
        ClickOk(box);
    });
    win.clickBackup();
    QCOMPARE(handler.pending(), 0);
    QCOMPARE(handler.seen().back().text,
             QStringLiteral("Cannot create file \"%1\". No such file or directory.").arg(missing));
    QCOMPARE(handler.seen().back().title, QStringLiteral("Noggix"));
    QCOMPARE(handler.seen().back().icon, QMessageBox::Critical);
    QVERIFY(disabledDuringReport);
    QVERIFY(win.runControlsEnabled());
    QVERIFY(!QFile::exists(Temp(QStringLiteral("no"))));
    QCOMPARE(win.label->text(), QStringLiteral("Backing up Childhood memory"));

    // The last tick comes from the timer: its failure is reported the same way.
    win.check({1, 2});
    win.path->setText(QStringLiteral("/dev/full"));
    win.timer->setInterval(20);
    handler.expect(ClickReady);
    handler.expect(ClickOk);
    win.clickBackup();
    QTRY_COMPARE(handler.pending(), 0);
    QCOMPARE(handler.seen().back().text, QStringLiteral("Stream write error."));
    QCOMPARE(handler.seen().back().title, QStringLiteral("Noggix"));
    QTRY_VERIFY(win.runControlsEnabled());
    QVERIFY(!win.timer->isActive());
}

void RunTest::ticksGoOnBehindAnOpenErrorBox()
{
    // Fresh generator: the tenth draw fails, the eleventh does not.
    Window win;
    ModalHandler handler;
    win.checkFirst(11);
    win.timer->setInterval(20);
    const QString file = Temp(QStringLiteral("behind.brains"));
    win.path->setText(file);
    const quint32 expectedState = [] {
        noggix::RandomGenerator r;
        for (int i = 0; i < 11; ++i)
            r.draw(5);
        for (int write = 0; write < 2; ++write)
            for (int i = 0; i < noggix::BackupFileSize; ++i)
                r.draw(44);
        return r.state();
    }();

    bool timerStopped = false;
    bool writtenBehindTheBox = false;
    bool enabledBehindTheBox = false;
    QString labelBehindTheBox;
    handler.expect(ClickReady);
    handler.expect([&](QWidget *box) {
        timerStopped = QTest::qWaitFor([&] { return !win.timer->isActive(); }, 10000);
        labelBehindTheBox = win.label->text();
        writtenBehindTheBox = testsupport::IsBackupContent(testsupport::ReadFile(file));
        enabledBehindTheBox = win.runControlsEnabled(); // by the last tick, behind the box
        ClickOk(box);
    });
    win.clickBackup();
    QTRY_COMPARE(handler.pending(), 0);
    QTRY_VERIFY(win.runControlsEnabled());
    QVERIFY(timerStopped);
    QCOMPARE(labelBehindTheBox, QStringLiteral("Backing up Phobias"));
    QVERIFY(writtenBehindTheBox);
    QVERIFY(enabledBehindTheBox);
    QCOMPARE(win.bar->value(), 11);
    QCOMPARE(win.playRequests(), 11);
    // The interrupted tick wrote the file once more when the box was closed.
    QTRY_COMPARE(noggix::sharedRandom().state(), expectedState);
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(file)));
}

void RunTest::tickAtAFullBarReadsNoItem()
{
    // Fresh generator: draws ten and twelve fail. The twelfth item's box stays open until the
    // timer has fired at a full bar.
    Window win;
    ModalHandler handler;
    win.checkFirst(12);
    win.timer->setInterval(20);
    const QString file = Temp(QStringLiteral("full.brains"));
    win.path->setText(file);

    bool innerDone = false;
    QString labelAtFullBar;
    int playsAtFullBar = 0;
    bool fileAtFullBar = true;
    handler.expect(ClickReady);
    bool timerStopped = false;
    handler.expect([&](QWidget *outer) { // the tenth item's box
        (void)QTest::qWaitFor([&] { return innerDone; }, 10000);
        ClickOk(outer);
    });
    handler.expect([&](QWidget *inner) { // the twelfth item's box, stacked on the first
        timerStopped = QTest::qWaitFor([&] { return !win.timer->isActive(); }, 10000);
        labelAtFullBar = win.label->text();
        playsAtFullBar = win.playRequests();
        fileAtFullBar = QFile::exists(file);
        innerDone = true;
        ClickOk(inner);
    });
    const quint32 drawsBefore = StateAfter(12);
    win.clickBackup();
    QTRY_COMPARE(handler.pending(), 0);
    QTRY_VERIFY(win.runControlsEnabled());

    QCOMPARE(handler.seen().size(), 2);
    QVERIFY(timerStopped);
    QCOMPARE(labelAtFullBar, QStringLiteral("Backing up Hobbies"));
    QCOMPARE(playsAtFullBar, 13); // twelve items and the tick that found the bar full
    QVERIFY(!fileAtFullBar);
    QCOMPARE(win.bar->value(), 12);
    QVERIFY(!win.timer->isActive());
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(file)));
    // No draw for the tick at a full bar; one file written by each of the two boxed ticks.
    noggix::RandomGenerator expected(drawsBefore);
    for (int write = 0; write < 2; ++write)
        for (int i = 0; i < noggix::BackupFileSize; ++i)
            expected.draw(44);
    QCOMPARE(noggix::sharedRandom().state(), expected.state());
}

void RunTest::focusStaysOffExitAndComesBack()
{
    Window win;
    win.w->show();
    win.w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(win.w.get()));
    auto *backup = Part<QPushButton>(win.w.get(), "btnBackup");
    const QList<QWidget *> bystanders = {Part<QWidget>(win.w.get(), "btnExit"),
                                         Part<QWidget>(win.w.get(), "btnHome")};
    // A generator whose next draw with range 5 is 2, the failing one.
    const auto failingNext = [] {
        for (quint32 state = 0;; ++state)
            if (noggix::RandomGenerator(state).draw(5) == 2)
                return noggix::RandomGenerator(state);
    };

    // Each way back to Idle: the boxes it shows, and what to set up before the click.
    struct Way {
        const char *name;
        QList<ModalHandler::Action> actions;
        std::function<void()> prepare;
    };
    const QString missing = Temp(QStringLiteral("none/x.brains"));
    const QString good = Temp(QStringLiteral("focus.brains"));
    const QList<Way> ways = {
        {"Cancel", {testsupport::ClickCancel}, [] {}},
        {"close box", {[](QWidget *d) { d->close(); }}, [] {}},
        {"no item", {ClickReady, ClickOk}, [&] { win.check({}); }},
        {"blank path",
         {ClickReady, ClickOk},
         [&] {
             win.check({1});
             win.path->setText(QStringLiteral("  "));
         }},
        {"complete run", {ClickReady}, [&] { win.path->setText(good); }},
        {"error box", {ClickReady, ClickOk}, [&] { noggix::sharedRandom() = failingNext(); }},
        {"failed write",
         {ClickReady, ClickOk},
         [&] {
             noggix::sharedRandom() = noggix::RandomGenerator();
             win.path->setText(missing);
         }},
    };
    for (const Way &way : ways) {
        way.prepare();
        backup->setFocus();
        ModalHandler handler;
        QList<QWidget *> focusMeanwhile;
        for (const ModalHandler::Action &action : way.actions)
            handler.expect([&, action](QWidget *modal) {
                focusMeanwhile.append(win.w->focusWidget());
                action(modal);
            });
        backup->click();
        QVERIFY2(handler.pending() == 0, way.name);
        for (QWidget *focused : std::as_const(focusMeanwhile))
            QVERIFY2(!bystanders.contains(focused), way.name);
        QVERIFY2(win.w->focusWidget() == backup, way.name);
    }
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(good)));
}

NOGGIX_TEST_MAIN(RunTest)
#include "test_run.moc"
