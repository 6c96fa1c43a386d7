// The "Get ready!" picture at a device pixel ratio of 2: the picture drawn at twice the size,
// shown at the same logical size, so that it stays sharp.

#include "AppSetup.h"
#include "StartDialog.h"
#include "TestSupport.h"

#include <QLabel>

using testsupport::Part;

class HiDpiTest : public QObject
{
    Q_OBJECT

private slots:
    void theDialogPictureHasTwiceThePixelsAtScaleTwo()
    {
        TfrmStart dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.devicePixelRatioF(), 2.0);
        const QPixmap picture = Part<QLabel>(&dialog, "Image1")->pixmap();
        QCOMPARE(picture.size(), QSize(440, 340));
        QCOMPARE(picture.deviceIndependentSize(), QSizeF(220, 170));
        QCOMPARE(Part<QLabel>(&dialog, "Image1")->geometry(), QRect(0, 0, 225, 177));
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2"); // before the application reads it
    testsupport::PrepareTestHome();
    testsupport::UseTestScreen(2560, 2048); // a desktop's, at twice the pixels
    QApplication app(argc, argv);
    noggix::setUpApplication(app);
    HiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_hidpi.moc"
