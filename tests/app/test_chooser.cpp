// The save-file chooser of "...": what it lists, how it moves between folders, what a choice
// gives the path box, and names that are not UTF-8 on the way to the backup file.

#include "AppSetup.h"
#include "BackupFileWriter.h"
#include "MainWindow.h"
#include "PathText.h"
#include "SaveFileChooser.h"
#include "SharedRandom.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using noggix::pathBytes;
using noggix::pathText;
using noggix::SaveFileChooser;
using testsupport::Part;

namespace
{

// Makes an empty file whose name is the bytes path.
bool Touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

QStringList Shown(SaveFileChooser &chooser)
{
    auto *entries = Part<QListWidget>(&chooser, "listView");
    QStringList texts;
    for (int i = 0; i < entries->count(); ++i)
        texts.append(entries->item(i)->text());
    return texts;
}

QListWidgetItem *Entry(SaveFileChooser &chooser, const QString &text)
{
    auto *entries = Part<QListWidget>(&chooser, "listView");
    const auto found = entries->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.constFirst();
}

} // namespace

class ChooserTest : public QObject
{
    Q_OBJECT
private slots:
    void listsFoldersThenBackupsWhateverTheirNames();
    void movesBetweenFoldersAndChoosesByBytes();
    void aChoiceIsWhereTheNextShowingOpens();
};

void ChooserTest::listsFoldersThenBackupsWhateverTheirNames()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    QVERIFY(Touch(top + "/b.brains"));
    QVERIFY(Touch(top + "/A.BRAINS"));
    QVERIFY(Touch(top + "/\xe9t\xe9.brains"));
    QVERIFY(Touch(top + "/notes.txt"));
    QVERIFY(Touch(top + "/.hidden.brains"));
    QCOMPARE(::mkdir((top + "/z folder").constData(), 0755), 0);
    QCOMPARE(::mkdir((top + "/\xff").constData(), 0755), 0);

    SaveFileChooser chooser;
    chooser.setFolder(pathText(top));
    QCOMPARE(Shown(chooser), (QStringList{QStringLiteral("z folder"), QStringLiteral("\uFFFD"),
                                          QStringLiteral("A.BRAINS"), QStringLiteral("b.brains"),
                                          QStringLiteral("\uFFFDt\uFFFD.brains")}));
    QCOMPARE(Part<QLineEdit>(&chooser, "lookInEdit")->text(), dir.path());
}

void ChooserTest::movesBetweenFoldersAndChoosesByBytes()
{
    QTemporaryDir dir;
    const QByteArray top = QFile::encodeName(dir.path());
    const QByteArray folder = top + "/\xc9t\xe9";
    QCOMPARE(::mkdir(folder.constData(), 0755), 0);
    QVERIFY(Touch(folder + "/vieux \xe0 garder.brains"));

    const auto w = noggix::createApplicationWindows();
    testsupport::ModalHandler handler;
    handler.expect([&](QWidget *d) {
        auto &chooser = *qobject_cast<SaveFileChooser *>(d);
        chooser.setFolder(pathText(top));
        // Enter on the folder opens it; the Up button goes back; a double click opens it again.
        auto *entries = Part<QListWidget>(&chooser, "listView");
        entries->setFocus();
        entries->setCurrentItem(Entry(chooser, QStringLiteral("\uFFFDt\uFFFD")));
        QTest::keyClick(entries, Qt::Key_Return);
        QCOMPARE(pathBytes(chooser.folder()), folder);
        QVERIFY(chooser.isVisible());
        Part<QToolButton>(&chooser, "toParentButton")->click();
        QCOMPARE(pathBytes(chooser.folder()), top);
        emit entries->itemActivated(Entry(chooser, QStringLiteral("\uFFFDt\uFFFD")));
        QCOMPARE(Shown(chooser), QStringList{QStringLiteral("vieux \uFFFD garder.brains")});
        // A click on the file names it in the box; Save chooses it.
        entries->setCurrentItem(entries->item(0));
        QCOMPARE(pathBytes(Part<QLineEdit>(&chooser, "fileNameEdit")->text()),
                 QByteArray("vieux \xe0 garder.brains"));
        QMetaObject::invokeMethod(&chooser, "accept");
    });
    w->SpeedButton1Click();
    QCOMPARE(handler.pending(), 0);

    // The path box holds the file's own bytes, and the backup goes there.
    const QString path = Part<QLineEdit>(w.get(), "edtSaveTo")->text();
    QCOMPARE(pathBytes(path), folder + "/vieux \xe0 garder.brains");
    noggix::RandomGenerator random;
    noggix::WriteBackupFile(path, random);
    struct stat written = {};
    QCOMPARE(::stat((folder + "/vieux \xe0 garder.brains").constData(), &written), 0);
    QCOMPARE(qint64(written.st_size), qint64(noggix::BackupFileSize));
}

void ChooserTest::aChoiceIsWhereTheNextShowingOpens()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    SaveFileChooser chooser;
    chooser.setFolder(dir.path());
    auto *name = Part<QLineEdit>(&chooser, "fileNameEdit");

    // A folder's name typed and saved opens it, with the box emptied; nothing is chosen yet.
    name->setText(QStringLiteral("sub"));
    chooser.accept();
    QCOMPARE(chooser.folder(), dir.path() + QStringLiteral("/sub"));
    QVERIFY(name->text().isEmpty());
    QVERIFY(chooser.selectedPath().isEmpty());

    // A name with a folder that does not exist is taken as it is, with the default suffix; the
    // chooser then stands in that folder with that name.
    name->setText(QStringLiteral("../later/./mine"));
    chooser.accept();
    QCOMPARE(chooser.result(), int(QDialog::Accepted));
    QCOMPARE(chooser.selectedPath(), dir.path() + QStringLiteral("/later/mine.brains"));
    QCOMPARE(chooser.folder(), dir.path() + QStringLiteral("/later"));
    QCOMPARE(name->text(), QStringLiteral("mine.brains"));

    // A name with a suffix of its own keeps it.
    name->setText(QStringLiteral("/") + dir.path().mid(1) + QStringLiteral("/x.old"));
    chooser.accept();
    QCOMPARE(chooser.selectedPath(), dir.path() + QStringLiteral("/x.old"));
}

NOGGIX_TEST_MAIN(ChooserTest)
#include "test_chooser.moc"
