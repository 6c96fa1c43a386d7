// Runs whose outcome depends on the shared random generator being fresh: each case runs in a
// process of its own (one CTest entry per case).

#include "AppSetup.h"
#include "MainWindow.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using testsupport::Part;

namespace
{

// Clicks "Noggix now!", confirms the dialog and ticks until an error box shows (closed at once)
// or the run ends. Returns the number of ticks, or 0 when the run ended without a failure.
int RunUntilFailure(TfrmMain *w)
{
    testsupport::ModalHandler handler;
    bool failed = false;
    handler.expect(testsupport::ClickReady);
    handler.expect([&](QWidget *box) {
        failed = true;
        testsupport::ClickOk(box);
    });
    auto *timer = Part<QTimer>(w, "Timer1");
    Part<QPushButton>(w, "btnBackup")->click();
    int ticks = 1;
    while (!failed && timer->isActive()) {
        w->Timer1Timer();
        ++ticks;
    }
    return failed ? ticks : 0;
}

} // namespace

class FreshTest : public QObject
{
    Q_OBJECT
private slots:
    void seventeenItemsFailAtTheTenthTick();
    void afterAOneItemRunTheFifthTickFails();
};

void FreshTest::seventeenItemsFailAtTheTenthTick()
{
    const auto w = noggix::createApplicationWindows();
    const QString path = Part<QLineEdit>(w.get(), "edtSaveTo")->text();
    QVERIFY(path.startsWith(testsupport::TestDocuments()));
    QCOMPARE(RunUntilFailure(w.get()), 10);
    QCOMPARE(Part<QLabel>(w.get(), "Label1")->text(), QStringLiteral("Backing up Complexes"));
    QCOMPARE(Part<QProgressBar>(w.get(), "ProgressBar1")->value(), 10);
    QCOMPARE(Part<QProgressBar>(w.get(), "ProgressBar1")->maximum(), 17);
    QVERIFY(!Part<QTimer>(w.get(), "Timer1")->isActive());
    QVERIFY(!QFile::exists(path));
}

void FreshTest::afterAOneItemRunTheFifthTickFails()
{
    const auto w = noggix::createApplicationWindows();
    const QString path = Part<QLineEdit>(w.get(), "edtSaveTo")->text();
    for (int i = 2; i <= 17; ++i)
        Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i)))
            ->setChecked(false);
    QCOMPARE(RunUntilFailure(w.get()), 0);
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(path)));
    QVERIFY(QFile::remove(path));

    for (int i = 2; i <= 17; ++i)
        Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i)))->setChecked(true);
    QCOMPARE(RunUntilFailure(w.get()), 5);
    QCOMPARE(Part<QLabel>(w.get(), "Label1")->text(), QStringLiteral("Backing up Addictions"));
    QCOMPARE(Part<QProgressBar>(w.get(), "ProgressBar1")->value(), 5);
    QVERIFY(!QFile::exists(path));
}

NOGGIX_TEST_MAIN(FreshTest)
#include "test_fresh.moc"
