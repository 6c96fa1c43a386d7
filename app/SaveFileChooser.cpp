#include "SaveFileChooser.h"

#include "PathText.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace noggix
{
namespace
{

// What an entry of the list holds besides its text: its name's bytes and whether it is a folder.
constexpr int NameRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;

QByteArray currentFolder()
{
    QByteArray folder(PATH_MAX, Qt::Uninitialized);
    if (::getcwd(folder.data(), std::size_t(folder.size())) == nullptr)
        return "/";
    return folder.constData();
}

bool isFolder(const QByteArray &path)
{
    struct stat info = {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// path with "." and ".." resolved and no doubled or trailing slash.
QByteArray clean(const QByteArray &path)
{
    return pathBytes(QDir::cleanPath(pathText(path)));
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return clean(name.startsWith('/') ? name : folder + '/' + name);
}

bool hasTheType(const QByteArray &name)
{
    const QByteArray suffix = '.' + SaveFileChooser::DefaultSuffix.toLatin1();
    return name.size() > suffix.size() && name.right(suffix.size()).toLower() == suffix;
}

struct Entry {
    QByteArray name;
    QString text;
    bool folder;
};

// The visible sub-folders and files of the type in folder; nothing when it cannot be read.
std::vector<Entry> listing(const QByteArray &folder)
{
    std::vector<Entry> entries;
    struct Closer {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(folder.constData()));
    if (!dir)
        return entries;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        struct stat info = {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0)
            continue;
        const bool isFolder = S_ISDIR(info.st_mode);
        if (isFolder || hasTheType(name))
            entries.push_back({name, pathDisplay(pathText(name)), isFolder});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.folder != b.folder)
            return a.folder;
        const int order = QString::compare(a.text, b.text, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return entries;
}

} // namespace

SaveFileChooser::SaveFileChooser(QWidget *parent)
    : QDialog(parent), lookIn_(new QLineEdit(this)), entries_(new QListWidget(this)),
      fileName_(new QLineEdit(this)), fileType_(new QComboBox(this))
{
    setWindowTitle(tr("Save As"));
    setSizeGripEnabled(true);

    lookIn_->setObjectName(QStringLiteral("lookInEdit"));
    lookIn_->setReadOnly(true);
    auto *up = new QToolButton(this);
    up->setObjectName(QStringLiteral("toParentButton"));
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(tr("Parent Directory"));
    entries_->setObjectName(QStringLiteral("listView"));
    fileName_->setObjectName(QStringLiteral("fileNameEdit"));
    fileType_->setObjectName(QStringLiteral("fileTypeCombo"));
    fileType_->addItem(FilterLabel);
    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, Qt::Vertical, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Look in:"), this), 0, 0);
    grid->addWidget(lookIn_, 0, 1);
    grid->addWidget(up, 0, 2);
    grid->addWidget(entries_, 1, 0, 1, 3);
    auto *nameLabel = new QLabel(tr("File &name:"), this);
    nameLabel->setBuddy(fileName_);
    grid->addWidget(nameLabel, 2, 0);
    grid->addWidget(fileName_, 2, 1);
    auto *typeLabel = new QLabel(tr("Files of type:"), this);
    typeLabel->setBuddy(fileType_);
    grid->addWidget(typeLabel, 3, 0);
    grid->addWidget(fileType_, 3, 1);
    grid->addWidget(buttons, 2, 2, 2, 1);
    resize(560, 360);

    entries_->installEventFilter(this);
    connect(up, &QToolButton::clicked, this, [this] { enter(clean(folder_ + "/..")); });
    connect(entries_, &QListWidget::itemActivated, this, &SaveFileChooser::activate);
    connect(entries_, &QListWidget::currentItemChanged, this, &SaveFileChooser::showChosen);
    connect(buttons, &QDialogButtonBox::accepted, this, &SaveFileChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SaveFileChooser::reject);
    buttons->button(QDialogButtonBox::Save)->setDefault(true);
    fileName_->setFocus();

    enter(currentFolder());
}

QString SaveFileChooser::folder() const
{
    return pathText(folder_);
}

void SaveFileChooser::setFolder(const QString &folder)
{
    enter(clean(pathBytes(folder)));
}

void SaveFileChooser::enter(const QByteArray &folder)
{
    folder_ = folder.isEmpty() ? QByteArray("/") : folder;
    lookIn_->setText(pathText(folder_));
    list();
}

void SaveFileChooser::list()
{
    entries_->clear();
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const Entry &entry : listing(folder_)) {
        auto *item = new QListWidgetItem(entry.folder ? folderIcon : fileIcon, entry.text);
        item->setData(NameRole, entry.name);
        item->setData(FolderRole, entry.folder);
        entries_->addItem(item);
    }
}

bool SaveFileChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == entries_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem *item = entries_->currentItem())
                activate(item);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SaveFileChooser::activate(QListWidgetItem *item)
{
    const QByteArray name = item->data(NameRole).toByteArray();
    if (item->data(FolderRole).toBool()) {
        enter(joined(folder_, name));
        return;
    }
    fileName_->setText(pathText(name));
    accept();
}

void SaveFileChooser::showChosen(QListWidgetItem *item)
{
    if (item && !item->data(FolderRole).toBool())
        fileName_->setText(pathText(item->data(NameRole).toByteArray()));
}

void SaveFileChooser::accept()
{
    const QString typed = fileName_->text();
    if (typed.isEmpty())
        return;
    QByteArray path = joined(folder_, pathBytes(typed));
    if (isFolder(path)) {
        enter(path);
        fileName_->clear();
        return;
    }
    if (!path.mid(path.lastIndexOf('/') + 1).contains('.'))
        path += '.' + DefaultSuffix.toLatin1();
    // The next showing opens where this choice was made, with its name.
    const qsizetype slash = path.lastIndexOf('/');
    enter(slash > 0 ? path.left(slash) : QByteArray("/"));
    fileName_->setText(pathText(path.mid(slash + 1)));
    selected_ = pathText(path);
    QDialog::accept();
}

} // namespace noggix
