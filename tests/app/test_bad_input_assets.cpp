// Damaged pictures: this program's own pictures are taken away and damaged copies stand in
// their place (a JPEG cut after its header, a GIF whose data after the screen descriptor is
// scrambled). Both windows must still show, with an empty picture, and a run must still work.

#include "AppSetup.h"
#include "MainWindow.h"
#include "SharedRandom.h"
#include "StartDialog.h"
#include "TestOutput.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using testsupport::Part;

namespace
{

QByteArray Asset(const char *name)
{
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class BadInputAssetsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void windowsShowWithEmptyPicturesAndARunWorks();
};

void BadInputAssetsTest::initTestCase()
{
    // The program's pictures go; only the damaged copies of this test remain under their names.
    Q_CLEANUP_RESOURCE(noggix_assets);
    const QByteArray jpeg = Asset(":/start.jpg");
    const QByteArray gif = Asset(":/main.gif");
    QCOMPARE(jpeg.size(), 600);
    QVERIFY(jpeg.startsWith("\xFF\xD8"));
    QVERIFY(gif.startsWith("GIF89a"));
    QVERIFY(gif.size() > 10000);
}

void BadInputAssetsTest::windowsShowWithEmptyPicturesAndARunWorks()
{
    testsupport::TestOutput output;
    output.faults.instant = true;
    const std::unique_ptr<TfrmMain> w = noggix::createApplicationWindows(output);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(Part<QLabel>(w.get(), "Image1")->pixmap().isNull());
    QCOMPARE(Part<QLabel>(w.get(), "Image1")->geometry(), QRect(0, 0, 297, 441));

    for (int i = 1; i <= 18; ++i)
        Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i)))
            ->setChecked(i == 3);
    noggix::sharedRandom() = noggix::RandomGenerator();
    bool dialogShown = false;
    bool dialogPictureEmpty = false;
    testsupport::ModalHandler handler;
    handler.expect([&](QWidget *dialog) {
        dialogShown = qobject_cast<TfrmStart *>(dialog) && dialog->isVisible();
        dialogPictureEmpty = Part<QLabel>(dialog, "Image1")->pixmap().isNull();
        testsupport::ClickReady(dialog);
    });
    handler.expect(testsupport::ClickOk); // none should come
    Part<QPushButton>(w.get(), "btnBackup")->click();

    QVERIFY(dialogShown);
    QVERIFY(dialogPictureEmpty);
    QCOMPARE(handler.pending(), 1);
    QCOMPARE(Part<QLabel>(w.get(), "Label1")->text(), QStringLiteral("Backing up Adult memory"));
    QVERIFY(testsupport::IsBackupContent(
        testsupport::ReadFile(Part<QLineEdit>(w.get(), "edtSaveTo")->text())));
}

NOGGIX_TEST_MAIN(BadInputAssetsTest)
#include "test_bad_input_assets.moc"
