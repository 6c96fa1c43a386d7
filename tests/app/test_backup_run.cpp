// The backup run on its own, shown on a view of the test's: what a run shows and in which order,
// what it plays, when it draws and when it writes the file, also when one tick runs inside
// another tick's error box.

#include "AppSetup.h"
#include "BackupFileWriter.h"
#include "BackupJingle.h"
#include "BackupRun.h"
#include "Failure.h"
#include "SharedRandom.h"
#include "TestOutput.h"
#include "TestSupport.h"
#include <midigen/MidiGen.h>

#include <QTemporaryDir>

#include <functional>

using noggix::RandomGenerator;

namespace
{

// A view that keeps the bar's numbers and writes down all that the run shows, in order.
struct RecordingView : noggix::BackupRunView {
    bool ready = true;
    QStringList checked;
    QString path;
    int position = 0;
    int maximum = 10;
    bool enabled = true;
    QStringList shown;
    // Runs while the error box of an item is open (a tick that falls due behind it).
    std::function<void()> behindTheBox;

    bool confirmReady() override
    {
        shown << QStringLiteral("ready?");
        return ready;
    }
    QStringList checkedItems() const override { return checked; }
    QString backupPath() const override { return path; }
    void EnableControls(bool on) override
    {
        enabled = on;
        shown << (on ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    }
    void showCheckMessage(const QString &text) override { shown << text; }
    void showItemFailure(const QString &text) override
    {
        shown << QStringLiteral("box: ") + text;
        if (behindTheBox)
            std::exchange(behindTheBox, nullptr)();
        shown << QStringLiteral("box closed");
    }
    int progress() const override { return position; }
    int progressMaximum() const override { return maximum; }
    void setProgress(int value) override { position = value; }
    void setProgressMaximum(int value) override
    {
        maximum = value;
        position = std::min(position, value);
    }
    void showItem(const QString &text) override { shown << text; }
    void reportFailures(const std::function<void()> &work) override
    {
        try {
            work();
        } catch (const noggix::Failure &failure) {
            shown << QStringLiteral("report: ") + failure.message();
        }
    }
};

const QString Failed =
    QStringLiteral("box: Neuron chain read error! Please, contact your neurologist to fix this "
                   "problem!");

// A run on a test device that plays every stream out at once.
struct Scene {
    testsupport::TestOutput output = [] {
        testsupport::TestOutput o;
        o.faults.instant = true;
        return o;
    }();
    TMidiGen generator{output};
    RecordingView view;
    RandomGenerator random;
    noggix::BackupRun run{view, generator, random};
    QTemporaryDir dir;

    // The test device's notifications of the last jingle are delivered before the generator
    // goes, as the window's event loop delivers them; the generator would otherwise wait for
    // them until its bound.
    ~Scene() { QCoreApplication::processEvents(); }

    // The random generator's state after draws with range 5, then files written.
    static quint32 stateAfter(int itemDraws, int files)
    {
        RandomGenerator expected;
        for (int i = 0; i < itemDraws; ++i)
            expected.draw(5);
        for (int i = 0; i < files * noggix::BackupFileSize; ++i)
            expected.draw(44);
        return expected.state();
    }
};

} // namespace

class BackupRunTest : public QObject
{
    Q_OBJECT
private slots:
    void checksStopTheRunBeforeItsFirstTick();
    void aRunPlaysNamesAndWritesTheFileOnceTheLastItemIsStepped();
    void ticksBehindAnErrorBoxGoOnAndTheBoxedTickChecksAgain();
};

void BackupRunTest::checksStopTheRunBeforeItsFirstTick()
{
    Scene scene;
    scene.view.ready = false;
    scene.run.start();
    QCOMPARE(scene.view.shown, (QStringList{"disabled", "ready?", "enabled"}));
    QCOMPARE(scene.generator.Duration(), 50u); // cancelled before the settings
    QCOMPARE(scene.view.maximum, 10);

    scene.view.ready = true;
    scene.view.shown.clear();
    scene.run.start();
    QCOMPARE(scene.view.shown,
             (QStringList{"disabled", "ready?", "Please, select one or more items to backup!",
                          "enabled"}));
    QCOMPARE(scene.view.maximum, 0);
    QCOMPARE(scene.generator.Modulation(), noggix::BackupJingleSettings.modulation);
    QCOMPARE(scene.generator.Duration(), noggix::BackupJingleSettings.duration);

    scene.view.checked = {"Phobias"};
    scene.view.path = QStringLiteral(" \t\n");
    scene.view.shown.clear();
    scene.run.start();
    QCOMPARE(scene.view.shown,
             (QStringList{"disabled", "ready?", "Please, specify output file!", "enabled"}));
    QVERIFY(!scene.run.isRunning());
    QCOMPARE(scene.output.log.opens, 0);
    QCOMPARE(scene.random.state(), 0u);
}

void BackupRunTest::aRunPlaysNamesAndWritesTheFileOnceTheLastItemIsStepped()
{
    // The first three draws of a fresh generator (0, 0, 4) fail nothing.
    Scene scene;
    scene.view.checked = {"Childhood memory", "Teenage memory", "Phobias"};
    scene.view.path = scene.dir.filePath(QStringLiteral("run.brains"));
    scene.run.start();
    QVERIFY(scene.run.isRunning());
    QCOMPARE(scene.view.position, 1);
    QCOMPARE(scene.view.maximum, 3);
    scene.run.tick();
    QVERIFY(!QFile::exists(scene.view.path));
    scene.run.tick();

    QCOMPARE(scene.view.shown,
             (QStringList{"disabled", "ready?", "Backing up Childhood memory",
                          "Backing up Teenage memory", "Backing up Phobias", "enabled"}));
    QVERIFY(!scene.run.isRunning());
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(scene.view.path)));
    QCOMPARE(scene.random.state(), Scene::stateAfter(3, 1));
    // Each tick played the program's jingle with the run's settings.
    QCOMPARE(scene.output.log.opens, 3);
    TMidiGen reference;
    noggix::applyJingleSettings(reference);
    const QByteArray jingle = reference.CompileString(noggix::BackupJingle).Stream();
    const auto &played = scene.output.log.queued.back();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(played.data()), qsizetype(played.size())),
             jingle);
}

void BackupRunTest::ticksBehindAnErrorBoxGoOnAndTheBoxedTickChecksAgain()
{
    // A fresh generator's tenth draw is 2, its eleventh is not: the tenth item's box stays open
    // while the eleventh tick runs behind it and completes the run; closing the box, the tenth
    // tick finds the bar full and writes the file once more.
    Scene scene;
    for (int i = 1; i <= 11; ++i)
        scene.view.checked << QStringLiteral("item %1").arg(i);
    scene.view.path = scene.dir.filePath(QStringLiteral("behind.brains"));
    bool runningBehindTheBox = false;
    scene.view.behindTheBox = [&] {
        runningBehindTheBox = scene.run.isRunning();
        scene.run.tick();
    };
    scene.run.start();
    for (int tick = 2; tick <= 10; ++tick)
        scene.run.tick();

    QVERIFY(runningBehindTheBox);
    QCOMPARE(scene.view.shown.mid(11),
             (QStringList{"Backing up item 10", Failed, "Backing up item 11", "enabled",
                          "box closed", "enabled", "enabled"}));
    QCOMPARE(scene.view.position, 11);
    QVERIFY(!scene.run.isRunning());
    QCOMPARE(scene.random.state(), Scene::stateAfter(11, 2));
    QVERIFY(testsupport::IsBackupContent(testsupport::ReadFile(scene.view.path)));

    // A file that cannot be written is reported, and the controls come back all the same.
    scene.view.checked = {"Hobbies"};
    scene.view.path = scene.dir.filePath(QStringLiteral("missing/x.brains"));
    scene.view.shown.clear();
    scene.random = RandomGenerator();
    scene.run.start();
    QCOMPARE(scene.view.shown.size(), 5);
    QVERIFY(scene.view.shown[3].startsWith(QStringLiteral("report: Cannot create file \"")));
    QCOMPARE(scene.view.shown[4], QStringLiteral("enabled"));
}

NOGGIX_TEST_MAIN(BackupRunTest)
#include "test_backup_run.moc"
