// The two windows as laid out: start-up state, places and sizes, resizing, captions, keyboard
// order, the "Get ready!" dialog's results, the file chooser, "Home Page" and "Exit".

#include "AppSetup.h"
#include "MainWindow.h"
#include "SaveFileChooser.h"
#include "StartDialog.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

using testsupport::Part;

namespace
{

struct Option {
    const char *caption;
    int left, top, width;
};

const Option Options[18] = {
    {"Childhood memory", 8, 16, 150},
    {"Teenage memory", 8, 40, 150},
    {"Adult memory", 8, 64, 150},
    {"Bad habits", 8, 96, 150},
    {"Addictions", 8, 120, 150},
    {"Love stories", 8, 144, 150},
    {"Professional skills", 240, 96, 150},
    {"Sport skills", 240, 120, 150},
    {"Sex skills", 240, 144, 150},
    {"Complexes", 240, 16, 97},
    {"Phobias", 240, 40, 97},
    {"Hobbies", 240, 168, 97},
    {"Sexual preferences", 8, 208, 150},
    {"Music preferences", 8, 232, 150},
    {"Movie preferences", 8, 256, 150},
    {"Food preferences", 8, 280, 150},
    {"Emotional type", 240, 208, 145},
    {"Alternative identities (experimental, use with care!)", 240, 232, 257},
};

QRect Rect(QWidget *root, const char *name)
{
    return Part<QWidget>(root, name)->geometry();
}

// Stands in for the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void startsIdleWithSeventeenItemsAndTheDefaultPath();
    void controlsStandWhereTheLayoutPutsThem();
    void resizingMovesRightAnchoredControlsOnly();
    void everyCaptionFitsItsControl();
    void tabWalksButtonsOptionsAndPath();
    void dialogResultsAndKeys();
    void dialogKeepsTheFocusOfItsLastShowing();
    void chooserReplacesThePathOnlyWhenConfirmed();
    void homePageAndExit();
};

void WindowTest::startsIdleWithSeventeenItemsAndTheDefaultPath()
{
    const auto w = noggix::createApplicationWindows();
    QCOMPARE(w->windowTitle(), QStringLiteral("Noggix 1.0"));
    QCOMPARE(Part<QLabel>(w.get(), "Label1")->text(), QStringLiteral("Idle"));
    auto *bar = Part<QProgressBar>(w.get(), "ProgressBar1");
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 10);
    for (int i = 0; i < 18; ++i) {
        auto *box = Part<QCheckBox>(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i + 1)));
        QCOMPARE(box->text(), QString::fromLatin1(Options[i].caption));
        QCOMPARE(box->isChecked(), i < 17);
        QCOMPARE(box->parent()->objectName(), QStringLiteral("gbxOptions"));
    }
    QCOMPARE(Part<QLineEdit>(w.get(), "edtSaveTo")->text(),
             testsupport::TestDocuments() + QStringLiteral("/mybrain.brains"));
    QCOMPARE(Part<QTimer>(w.get(), "Timer1")->interval(), 10000);
    QVERIFY(!Part<QTimer>(w.get(), "Timer1")->isActive());
    QVERIFY(Part<TfrmStart>(w.get(), "frmStart")->isHidden());
}

void WindowTest::controlsStandWhereTheLayoutPutsThem()
{
    const auto w = noggix::createApplicationWindows();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->pos(), QPoint(192, 114)); // the designed place, on a screen that holds it
    QCOMPARE(w->size(), QSize(804, 482));
    QCOMPARE(Rect(w.get(), "Image1"), QRect(0, 0, 297, 441));
    QCOMPARE(Rect(w.get(), "Panel1"), QRect(0, 441, 804, 41));
    QCOMPARE(Rect(w.get(), "Panel2"), QRect(297, 0, 507, 441));
    QCOMPARE(Rect(w.get(), "btnHome"), QRect(8, 8, 75, 25));
    QCOMPARE(Rect(w.get(), "btnBackup"), QRect(488, 8, 171, 25));
    QCOMPARE(Rect(w.get(), "btnExit"), QRect(704, 8, 75, 25));
    QCOMPARE(Rect(w.get(), "gbxSaveTo"), QRect(0, 0, 507, 49));
    QCOMPARE(Rect(w.get(), "gbxOptions"), QRect(0, 49, 507, 315));
    QCOMPARE(Rect(w.get(), "gbxProgress"), QRect(0, 364, 507, 77));
    QCOMPARE(Rect(w.get(), "SpeedButton1"), QRect(465, 16, 23, 22));
    QCOMPARE(Rect(w.get(), "edtSaveTo"), QRect(8, 16, 442, 21));
    QCOMPARE(Rect(w.get(), "ProgressBar1"), QRect(8, 32, 485, 33));
    QCOMPARE(Rect(w.get(), "Label1").topLeft(), QPoint(8, 16));
    for (int i = 0; i < 18; ++i)
        QCOMPARE(Rect(w.get(), qPrintable(QStringLiteral("CheckBox%1").arg(i + 1))),
                 QRect(Options[i].left, Options[i].top, Options[i].width, 17));

    auto *image = Part<QLabel>(w.get(), "Image1");
    QVERIFY(image->hasScaledContents());
    QCOMPARE(image->pixmap().size(), QSize(605, 768));

    auto *dialog = Part<TfrmStart>(w.get(), "frmStart");
    QCOMPARE(dialog->size(), QSize(688, 218));
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(Rect(dialog, "Image1"), QRect(0, 0, 225, 177));
    QCOMPARE(Rect(dialog, "Label1"), QRect(225, 0, 463, 177));
    QCOMPARE(Rect(dialog, "Panel1"), QRect(0, 177, 688, 41));
    QCOMPARE(Rect(dialog, "Button1"), QRect(456, 8, 75, 25));
    QCOMPARE(Rect(dialog, "Button2"), QRect(584, 8, 75, 25));
    auto *picture = Part<QLabel>(dialog, "Image1");
    QCOMPARE(picture->pixmap().size(), QSize(220, 170));
    QVERIFY(!picture->hasScaledContents());
    auto *label = Part<QLabel>(dialog, "Label1");
    QCOMPARE(label->text(), QStringLiteral("Put your earphones on and click \"I'm ready!\""));
    QCOMPARE(label->font().pixelSize(), 29);
    QVERIFY(label->wordWrap());
    QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignTop);
    dialog->hide();
}

void WindowTest::resizingMovesRightAnchoredControlsOnly()
{
    const auto w = noggix::createApplicationWindows();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->resize(1004, 582);
    QTRY_COMPARE(Rect(w.get(), "Panel1"), QRect(0, 541, 1004, 41));
    QCOMPARE(Rect(w.get(), "Image1"), QRect(0, 0, 297, 541));
    QCOMPARE(Rect(w.get(), "Panel2"), QRect(297, 0, 707, 541));
    QCOMPARE(Rect(w.get(), "btnHome"), QRect(8, 8, 75, 25));
    QCOMPARE(Rect(w.get(), "btnBackup"), QRect(688, 8, 171, 25));
    QCOMPARE(Rect(w.get(), "btnExit"), QRect(904, 8, 75, 25));
    QCOMPARE(Rect(w.get(), "gbxSaveTo"), QRect(0, 0, 707, 49));
    QCOMPARE(Rect(w.get(), "gbxOptions"), QRect(0, 49, 707, 415));
    QCOMPARE(Rect(w.get(), "gbxProgress"), QRect(0, 464, 707, 77));
    QCOMPARE(Rect(w.get(), "SpeedButton1"), QRect(665, 16, 23, 22));
    QCOMPARE(Rect(w.get(), "edtSaveTo"), QRect(8, 16, 642, 21));
    QCOMPARE(Rect(w.get(), "ProgressBar1"), QRect(8, 32, 685, 33));
    QCOMPARE(Rect(w.get(), "CheckBox18"), QRect(240, 232, 257, 17));

    w->resize(604, 382); // narrower than designed: the anchored controls follow back
    QTRY_COMPARE(Rect(w.get(), "btnExit"), QRect(504, 8, 75, 25));
    QCOMPARE(Rect(w.get(), "edtSaveTo"), QRect(8, 16, 242, 21));
    QCOMPARE(Rect(w.get(), "Image1"), QRect(0, 0, 297, 341));
}

void WindowTest::everyCaptionFitsItsControl()
{
    const auto w = noggix::createApplicationWindows();
    const auto buttons = w->findChildren<QAbstractButton *>();
    QVERIFY(buttons.size() >= 18 + 4 + 2);
    for (QAbstractButton *button : buttons) {
        if (button->window() != w.get() && button->window()->objectName() != u"frmStart")
            continue; // the file chooser's own
        // A check box needs its size hint; a push button its text plus a few pixels of margin.
        const int needed = qobject_cast<QCheckBox *>(button)
                               ? button->sizeHint().width()
                               : button->fontMetrics().horizontalAdvance(button->text()) + 6;
        QVERIFY2(needed <= button->width(), qPrintable(button->objectName()));
        QVERIFY2(button->fontMetrics().height() <= button->height(),
                 qPrintable(button->objectName()));
        QCOMPARE(button->font().pointSize(), 8);
        QVERIFY(button->font().stretch() == QFont::AnyStretch || button->font().stretch() >= 80);
    }
    auto *label = Part<QLabel>(Part<TfrmStart>(w.get(), "frmStart"), "Label1");
    QVERIFY(label->heightForWidth(label->width()) <= label->height());
}

void WindowTest::tabWalksButtonsOptionsAndPath()
{
    const auto w = noggix::createApplicationWindows();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QCOMPARE(QApplication::focusWidget(), Part<QWidget>(w.get(), "btnHome"));

    QStringList expected = {QStringLiteral("btnBackup"), QStringLiteral("btnExit")};
    for (int i = 1; i <= 18; ++i)
        expected << QStringLiteral("CheckBox%1").arg(i);
    expected << QStringLiteral("edtSaveTo") << QStringLiteral("btnHome");
    QStringList walked;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(walked, expected);
}

void WindowTest::dialogResultsAndKeys()
{
    TfrmStart dialog;
    testsupport::ModalHandler handler;

    handler.expect(testsupport::ClickReady);
    QCOMPARE(dialog.exec(), 1);
    handler.expect(testsupport::ClickCancel);
    QCOMPARE(dialog.exec(), 2);
    handler.expect([](QWidget *d) { d->close(); });
    QCOMPARE(dialog.exec(), 2);
    handler.expect([](QWidget *d) {
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(d->isVisible()); // Escape is not Cancel
        QTest::keyClick(d, Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(handler.pending(), 0);
}

void WindowTest::dialogKeepsTheFocusOfItsLastShowing()
{
    TfrmStart dialog;
    testsupport::ModalHandler handler;
    QString first;
    QString second;
    handler.expect([&](QWidget *d) {
        QVERIFY(QTest::qWaitForWindowActive(d));
        first = QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        d->close();
    });
    handler.expect([&](QWidget *d) {
        QVERIFY(QTest::qWaitForWindowActive(d));
        second = QApplication::focusWidget()->objectName();
        testsupport::ClickReady(d);
    });
    QCOMPARE(dialog.exec(), 2);
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(first, QStringLiteral("Button1"));
    QCOMPARE(second, QStringLiteral("Button2"));
}

void WindowTest::chooserReplacesThePathOnlyWhenConfirmed()
{
    const auto w = noggix::createApplicationWindows();
    auto *path = Part<QLineEdit>(w.get(), "edtSaveTo");
    path->setText(QStringLiteral("/typed/by/hand.brains"));
    testsupport::ModalHandler handler;
    noggix::SaveFileChooser *chooser = nullptr;
    QString filterShown;
    QString startFolder;
    handler.expect([&](QWidget *d) {
        chooser = qobject_cast<noggix::SaveFileChooser *>(d);
        if (auto *filters = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
            filterShown = filters->currentText();
        if (chooser)
            startFolder = chooser->folder();
        d->close();
    });
    w->SpeedButton1Click();
    QVERIFY(chooser);
    QCOMPARE(chooser->parent(), w.get());
    QCOMPARE(chooser->windowTitle(), QStringLiteral("Save As"));
    QCOMPARE(filterShown, QStringLiteral("Brain backups"));
    QCOMPARE(startFolder, QDir::currentPath()); // the platform's default, not the path box's
    QCOMPARE(path->text(), QStringLiteral("/typed/by/hand.brains"));

    const QString chosen = testsupport::TestDocuments() + QStringLiteral("/picked");
    handler.expect([&](QWidget *d) {
        // Typed by the user, in another folder than the path box names.
        d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(chosen);
        QMetaObject::invokeMethod(d, "accept");
    });
    w->SpeedButton1Click();
    QCOMPARE(path->text(), chosen + QStringLiteral(".brains"));
    QCOMPARE(handler.pending(), 0);
}

void WindowTest::homePageAndExit()
{
    const auto w = noggix::createApplicationWindows();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    Part<QPushButton>(w.get(), "btnHome")->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QStringLiteral("https://noggix.example.org/"))});

    // Closing the only window ends the program's loop (quit on last window closed).
    QVERIFY(w->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(QApplication::quitOnLastWindowClosed());
    Part<QPushButton>(w.get(), "btnExit")->click();
    QVERIFY(!w->isVisible());
    const auto windows = QApplication::topLevelWidgets();
    QVERIFY(
        std::none_of(windows.begin(), windows.end(), [](QWidget *t) { return t->isVisible(); }));
}

NOGGIX_TEST_MAIN(WindowTest)
#include "test_windows.moc"
