// The "Get ready!" picture at a device pixel ratio of 2: the picture drawn at twice the size,
// shown at the same logical size, so that it stays sharp.

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

// A desktop's screen at twice the pixels, at scale 2.
testsupport::QtTestProgram testsupport::qtTestProgram()
{
    return WindowTestProgram([] { return std::make_unique<HiDpiTest>(); }, 2560, 2048, "2");
}

#include "test_hidpi.moc"
