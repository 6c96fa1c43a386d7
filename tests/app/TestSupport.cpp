#include "TestSupport.h"

#include "AppSetup.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace testsupport
{

namespace
{
QString &HomeFolder()
{
    static QString home;
    return home;
}
} // namespace

QString PrepareTestHome()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/noggix-test-XXXXXX"));
    const QString home = dir.path();
    QDir(home).mkpath(QStringLiteral(".config"));
    QDir(home).mkpath(QStringLiteral("Docs"));
    QDir(home).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile dirs(home + QStringLiteral("/.config/user-dirs.dirs"));
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    dirs.close();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + QStringLiteral("/runtime")));
    QDir::setCurrent(home);
    HomeFolder() = home;
    return home;
}

QString TestDocuments()
{
    return HomeFolder() + QStringLiteral("/Docs");
}

void UseTestScreen(int width, int height)
{
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    const QString config = HomeFolder() + QStringLiteral("/screen.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(config));
    file.write(QStringLiteral("{\"screens\": [{\"name\": \"Test\", \"x\": 0, \"y\": 0, "
                              "\"width\": %1, \"height\": %2, \"logicalDpi\": 96, "
                              "\"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
}

QtTestProgram WindowTestProgram(std::function<std::unique_ptr<QObject>()> makeTest, int width,
                                int height, const char *scaleFactor)
{
    QtTestProgram program;
    program.prepare = [=] {
        if (scaleFactor != nullptr)
            qputenv("QT_SCALE_FACTOR", scaleFactor);
        PrepareTestHome();
        UseTestScreen(width, height);
    };
    program.makeTest = [makeTest = std::move(makeTest)](QApplication &app) {
        noggix::setUpApplication(app);
        return makeTest();
    };
    return program;
}

ModalHandler::ModalHandler() = default;

void ModalHandler::expect(Action action)
{
    m_actions.push_back(std::move(action));
    schedule();
}

void ModalHandler::schedule()
{
    if (!m_scheduled) {
        m_scheduled = true;
        QTimer::singleShot(5, this, &ModalHandler::poll);
    }
}

void ModalHandler::poll()
{
    m_scheduled = false;
    m_handled.removeAll(nullptr);
    QWidget *modal = QApplication::activeModalWidget();
    if (m_failed) {
        // Hiding a dialog ends its exec().
        if (modal)
            modal->hide();
        schedule();
        return;
    }
    Action action;
    if (modal && modal->isVisible() && !m_handled.contains(modal) && !m_actions.empty()) {
        action = std::move(m_actions.front());
        m_actions.pop_front();
        m_handled.append(modal);
        modal->installEventFilter(this);
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            m_seen.append({box->windowTitle(), box->text(), box->icon()});
    }
    // Keep looking while an action runs, since it may wait for further boxes.
    if (!m_actions.empty())
        schedule();
    if (action) {
        // As a user would, act once the box has become the active window: a click that comes
        // before the activation lets the platform move the focus of a box that is already gone.
        QTest::qWaitForWindowActive(modal);
        action(modal);
        if (QTest::currentTestFailed()) {
            m_failed = true;
            m_actions.clear();
            schedule();
        }
    }
}

bool ModalHandler::eventFilter(QObject *watched, QEvent *event)
{
    // A widget counts as handled until it is hidden; a dialog shown again is a new showing.
    if (event->type() == QEvent::Hide) {
        m_handled.removeAll(qobject_cast<QWidget *>(watched));
        watched->removeEventFilter(this);
    }
    return false;
}

void ClickOk(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box)
        qFatal("expected a message box, got %s", modal->metaObject()->className());
    box->button(QMessageBox::Ok)->click();
}

static void ClickButton(QWidget *modal, const char *name)
{
    auto *button = modal->findChild<QAbstractButton *>(QString::fromLatin1(name));
    if (!button)
        qFatal("expected the Get ready! dialog, got %s", modal->metaObject()->className());
    button->click();
}

void ClickReady(QWidget *modal)
{
    ClickButton(modal, "Button1");
}

void ClickCancel(QWidget *modal)
{
    ClickButton(modal, "Button2");
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    if (data.isNull())
        data = QByteArray("");
    return data;
}

bool IsBackupContent(const QByteArray &data)
{
    return data.size() == 150001 && data.count('A') == 150001;
}

} // namespace testsupport
