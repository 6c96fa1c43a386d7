#pragma once

// Helpers of the window tests: a private home folder, access to the windows' parts by name,
// and handling of the modal boxes that the windows open.

#include "QtTestMain.h"

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>

namespace testsupport
{

// Points HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR at a fresh temporary folder whose documents
// folder is $HOME/Docs (created), so no test touches the user's real documents. Call before
// the QApplication is created. Returns the home folder.
QString PrepareTestHome();

// The documents folder that PrepareTestHome set up.
QString TestDocuments();

// On the offscreen platform, gives the process one screen of width x height pixels instead of
// the platform's 800 x 800, from a configuration file in the test home. Call after
// PrepareTestHome and before the QApplication is created; another platform is left alone.
void UseTestScreen(int width, int height);

// A window test: the private home and a screen of width x height pixels before the application
// (at QT_SCALE_FACTOR scaleFactor when one is given), the program's own set-up on it, then the
// test object that makeTest makes.
QtTestProgram WindowTestProgram(std::function<std::unique_ptr<QObject>()> makeTest,
                                int width = 1280, int height = 1024,
                                const char *scaleFactor = nullptr);

// The child of root named name, of type T; fails the test when missing.
template <typename T> T *Part(QObject *root, const char *name)
{
    T *found = root->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

// What a modal box showed.
struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs the queued actions, one each, on the modal widgets that open from now on, found by a
// single-shot timer that looks at QApplication::activeModalWidget() every few milliseconds.
// An action may leave its widget open and wait; widgets that open meanwhile get the next action.
// Once a check inside an action has failed, the remaining actions are dropped and every modal
// widget is closed as soon as it shows, so that the failing test returns at once instead of
// waiting for a box that nobody closes.
class ModalHandler : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalHandler();
    void expect(Action action);
    // Message boxes handled so far, in order.
    const QList<BoxSeen> &seen() const { return m_seen; }
    // Actions not yet run.
    int pending() const { return int(m_actions.size()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    void schedule();
    std::deque<Action> m_actions;
    QList<QPointer<QWidget>> m_handled;
    QList<BoxSeen> m_seen;
    bool m_scheduled = false;
    bool m_failed = false;
};

// Clicks OK of a message box.
void ClickOk(QWidget *modal);

// Actions for the "Get ready!" dialog.
void ClickReady(QWidget *modal);
void ClickCancel(QWidget *modal);

// The file's bytes, or a null array when it does not exist.
QByteArray ReadFile(const QString &path);

// True when data is exactly the backup file's content.
bool IsBackupContent(const QByteArray &data);

} // namespace testsupport

// The test class that the shared main runs, on a desktop-sized screen.
#define NOGGIX_TEST_MAIN(TestClass)                                                                \
    testsupport::QtTestProgram testsupport::qtTestProgram()                                        \
    {                                                                                              \
        return WindowTestProgram([] { return std::make_unique<TestClass>(); });                    \
    }
