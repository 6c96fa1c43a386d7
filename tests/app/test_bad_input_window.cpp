// Bad paths typed into the real main window: blank ones are refused by the check, a folder is
// reported with its absolute path, a path too long for a line is reported whole, and none loses
// what the user had set: the path box keeps the text as typed, the options keep their state and
// the next run writes its file.

#include "AppSetup.h"
#include "MainWindow.h"
#include "SharedRandom.h"
#include "TestOutput.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using testsupport::ClickOk;
using testsupport::ClickReady;
using testsupport::ModalHandler;
using testsupport::Part;

class BadInputWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { w.reset(); }

    void blankPathsAreRefusedAndKeptAsTyped_data();
    void blankPathsAreRefusedAndKeptAsTyped();
    void folderAsPathIsReportedAndTheNextRunWrites();
    void aLongPathIsReportedWholeAndWrapped();

private:
    // Sets the path box to text, clicks "Noggix now!", confirms the dialog and closes the given
    // number of boxes that follow, and one more that should not come, so that a box too many
    // cannot hang the test. Returns the boxes seen; unhandled counts the expected ones that
    // never came.
    QList<testsupport::BoxSeen> run(const QString &path, int boxes);
    QList<bool> checkStates() const;

    testsupport::TestOutput output;
    std::unique_ptr<TfrmMain> w;
    QLineEdit *path = nullptr;
    QLabel *label = nullptr;
    int unhandled = 0;
};

void BadInputWindowTest::initTestCase()
{
    output.faults.instant = true;
    w = noggix::createApplicationWindows(output);
    path = Part<QLineEdit>(w.get(), "edtSaveTo");
    label = Part<QLabel>(w.get(), "Label1");
    for (int i = 1; i <= 18; ++i)
        Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i)))
            ->setChecked(i == 5);
}

void BadInputWindowTest::init()
{
    // A fresh generator: the first draws of a tick do not fail.
    noggix::sharedRandom() = noggix::RandomGenerator();
}

QList<testsupport::BoxSeen> BadInputWindowTest::run(const QString &text, int boxes)
{
    path->setText(text);
    ModalHandler handler;
    handler.expect(ClickReady);
    for (int i = 0; i <= boxes; ++i)
        handler.expect(ClickOk);
    Part<QPushButton>(w.get(), "btnBackup")->click();
    unhandled = handler.pending() - 1;
    return handler.seen();
}

QList<bool> BadInputWindowTest::checkStates() const
{
    QList<bool> states;
    for (QCheckBox *box : w->findChildren<QCheckBox *>())
        states.append(box->isChecked());
    return states;
}

void BadInputWindowTest::blankPathsAreRefusedAndKeptAsTyped_data()
{
    QTest::addColumn<QString>("blank");
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces and control characters") << QStringLiteral("\t\r\n \x01\x1f ");
}

void BadInputWindowTest::blankPathsAreRefusedAndKeptAsTyped()
{
    QFETCH(QString, blank);
    const QList<bool> before = checkStates();
    const QList<testsupport::BoxSeen> seen = run(blank, 1);
    QCOMPARE(unhandled, 0);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].title, QStringLiteral("Noggix"));
    QCOMPARE(seen[0].text, QStringLiteral("Please, specify output file!"));
    QCOMPARE(seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(path->text(), blank);
    QCOMPARE(label->text(), QStringLiteral("Idle")); // no tick ran
    QCOMPARE(output.log.opens, 0);
    QCOMPARE(checkStates(), before);
    QVERIFY(Part<QPushButton>(w.get(), "btnBackup")->isEnabled());
    QCOMPARE(QDir(testsupport::TestDocuments()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void BadInputWindowTest::folderAsPathIsReportedAndTheNextRunWrites()
{
    // The process runs in the test home, whose documents folder is "Docs".
    const QString docs = testsupport::TestDocuments();
    QVERIFY(QDir::current() == QDir(docs + QStringLiteral("/..")));
    const QList<bool> before = checkStates();

    const QList<testsupport::BoxSeen> seen = run(QStringLiteral("Docs/"), 1);
    QCOMPARE(unhandled, 0);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].title, QStringLiteral("Noggix"));
    QCOMPARE(seen[0].icon, QMessageBox::Critical);
    QCOMPARE(seen[0].text, QStringLiteral("Cannot create file \"%1\". Is a directory.").arg(docs));
    QCOMPARE(path->text(), QStringLiteral("Docs/"));
    QCOMPARE(label->text(), QStringLiteral("Backing up Addictions"));
    QCOMPARE(checkStates(), before);
    QVERIFY(QFileInfo(docs).isDir());

    noggix::sharedRandom() = noggix::RandomGenerator();
    QCOMPARE(run(QStringLiteral("Docs/after.brains"), 0).size(), 0);
    QCOMPARE(unhandled, 0);
    QVERIFY(testsupport::IsBackupContent(
        testsupport::ReadFile(docs + QStringLiteral("/after.brains"))));
}

void BadInputWindowTest::aLongPathIsReportedWholeAndWrapped()
{
    const QString missing = testsupport::TestDocuments() + QStringLiteral("/") + QString(60, u'n') +
                            QStringLiteral("/") + QString(240, u'x') + QStringLiteral(".brains");
    const QString expected =
        QStringLiteral("Cannot create file \"%1\". No such file or directory.").arg(missing);
    path->setText(missing);
    ModalHandler handler;
    handler.expect(ClickReady);
    QString shown;
    QRect frame;
    QRect textRect;
    QRect needed;
    handler.expect([&](QWidget *box) {
        for (QLabel *text : box->findChildren<QLabel *>()) {
            if (!text->text().startsWith(QStringLiteral("Cannot create")))
                continue;
            shown = text->text();
            textRect = text->contentsRect();
            needed = text->fontMetrics().boundingRect(textRect, Qt::TextWordWrap, shown);
        }
        frame = box->frameGeometry();
        ClickOk(box);
    });
    handler.expect(ClickOk); // a box too many
    Part<QPushButton>(w.get(), "btnBackup")->click();
    QCOMPARE(handler.pending(), 1);

    // Every character is there, in lines that the label holds, in a box within the screen.
    QCOMPARE(QString(shown).remove(u'\n'), expected);
    QVERIFY2(needed.width() <= textRect.width() && needed.height() <= textRect.height(),
             qPrintable(QStringLiteral("the text needs %1 x %2, the label has %3 x %4")
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(textRect.width())
                            .arg(textRect.height())));
    QVERIFY(w->screen()->availableGeometry().contains(frame));
}

NOGGIX_TEST_MAIN(BadInputWindowTest)
#include "test_bad_input_window.moc"
