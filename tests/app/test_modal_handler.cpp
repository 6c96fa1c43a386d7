// The modal handler of the window tests when a check fails inside one of its actions: the test
// must end at once with its failure, not wait with a box open until CTest gives up. CTest looks
// for the failure in the output and gives the process a short time-out.

#include "AppSetup.h"
#include "TestSupport.h"

#include <QMessageBox>

class ModalHandlerTest : public QObject
{
    Q_OBJECT
private slots:
    void failedCheckInsideABoxEndsTheTest();
};

void ModalHandlerTest::failedCheckInsideABoxEndsTheTest()
{
    testsupport::ModalHandler handler;
    handler.expect([](QWidget *box) {
        QVERIFY2(!box, "the check that fails on purpose, before the box is closed");
        testsupport::ClickOk(box);
    });
    handler.expect(testsupport::ClickOk);
    QMessageBox first(QMessageBox::NoIcon, QStringLiteral("first"), QStringLiteral("first"),
                      QMessageBox::Ok);
    first.exec();
    QMessageBox second(QMessageBox::NoIcon, QStringLiteral("second"), QStringLiteral("second"),
                       QMessageBox::Ok);
    second.exec();
}

NOGGIX_TEST_MAIN(ModalHandlerTest)
#include "test_modal_handler.moc"
