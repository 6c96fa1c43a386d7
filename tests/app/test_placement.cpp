// Both windows on a small screen (1280 x 900 pixels at scale 2, so 640 x 450 logical pixels):
// they lie within the screen's available area, the main window's button row and "I'm ready!"
// within reach.

#include "AppSetup.h"
#include "MainWindow.h"
#include "StartDialog.h"
#include "TestSupport.h"

#include <QPushButton>
#include <QScreen>

using testsupport::Part;

namespace
{

// Where widget lies on the screen, frame and all for a window.
QRect OnScreen(QWidget *widget)
{
    if (widget->isWindow())
        return widget->frameGeometry();
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

} // namespace

class PlacementTest : public QObject
{
    Q_OBJECT

private slots:
    void windowsLieWithinASmallScreen()
    {
        const auto w = noggix::createApplicationWindows();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QRect area = w->screen()->availableGeometry();
        QCOMPARE(area.size(), QSize(640, 450));
        QVERIFY(area.contains(OnScreen(w.get())));
        for (const char *button : {"btnHome", "btnBackup", "btnExit"})
            QVERIFY2(area.contains(OnScreen(Part<QPushButton>(w.get(), button))), button);

        auto *dialog = Part<TfrmStart>(w.get(), "frmStart");
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY(area.contains(OnScreen(dialog)));
        // "Cancel" stands at 584..659 of the dialog's 688 by design, anchored to the left; the
        // frame's close box does what it does.
        QVERIFY(area.contains(OnScreen(Part<QPushButton>(dialog, "Button1"))));
    }
};

// A small screen at scale 2.
testsupport::QtTestProgram testsupport::qtTestProgram()
{
    return WindowTestProgram([] { return std::make_unique<PlacementTest>(); }, 1280, 900, "2");
}

#include "test_placement.moc"
