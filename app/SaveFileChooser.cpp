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

QByteArray CurrentFolder()
{
    QByteArray folder(PATH_MAX, Qt::Uninitialized);
    if (::getcwd(folder.data(), std::size_t(folder.size())) == nullptr)
        return "/";
    return folder.constData();
}

bool IsFolder(const QByteArray &path)
{
    struct stat info = {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// path with "." and ".." resolved and no doubled or trailing slash.
QByteArray Clean(const QByteArray &path)
{
    return PathBytes(QDir::cleanPath(PathText(path)));
}

QByteArray Joined(const QByteArray &folder, const QByteArray &name)
{
    return Clean(name.startsWith('/') ? name : folder + '/' + name);
}

bool HasTheType(const QByteArray &name)
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
std::vector<Entry> Listing(const QByteArray &folder)
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
        if (isFolder || HasTheType(name))
            entries.push_back({name, PathDisplay(PathText(name)), isFolder});
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
    : QDialog(parent), m_lookIn(new QLineEdit(this)), m_entries(new QListWidget(this)),
      m_fileName(new QLineEdit(this)), m_fileType(new QComboBox(this))
{
    setWindowTitle(tr("Save As"));
    setSizeGripEnabled(true);

    m_lookIn->setObjectName(QStringLiteral("lookInEdit"));
    m_lookIn->setReadOnly(true);
    auto *up = new QToolButton(this);
    up->setObjectName(QStringLiteral("toParentButton"));
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(tr("Parent Directory"));
    m_entries->setObjectName(QStringLiteral("listView"));
    m_fileName->setObjectName(QStringLiteral("fileNameEdit"));
    m_fileType->setObjectName(QStringLiteral("fileTypeCombo"));
    m_fileType->addItem(FilterLabel);
    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, Qt::Vertical, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Look in:"), this), 0, 0);
    grid->addWidget(m_lookIn, 0, 1);
    grid->addWidget(up, 0, 2);
    grid->addWidget(m_entries, 1, 0, 1, 3);
    auto *nameLabel = new QLabel(tr("File &name:"), this);
    nameLabel->setBuddy(m_fileName);
    grid->addWidget(nameLabel, 2, 0);
    grid->addWidget(m_fileName, 2, 1);
    auto *typeLabel = new QLabel(tr("Files of type:"), this);
    typeLabel->setBuddy(m_fileType);
    grid->addWidget(typeLabel, 3, 0);
    grid->addWidget(m_fileType, 3, 1);
    grid->addWidget(buttons, 2, 2, 2, 1);
    resize(560, 360);

    m_entries->installEventFilter(this);
    connect(up, &QToolButton::clicked, this, [this] { enter(Clean(m_folder + "/..")); });
    connect(m_entries, &QListWidget::itemActivated, this, &SaveFileChooser::activate);
    connect(m_entries, &QListWidget::currentItemChanged, this, &SaveFileChooser::showChosen);
    connect(buttons, &QDialogButtonBox::accepted, this, &SaveFileChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SaveFileChooser::reject);
    buttons->button(QDialogButtonBox::Save)->setDefault(true);
    m_fileName->setFocus();

    enter(CurrentFolder());
}

QString SaveFileChooser::folder() const
{
    return PathText(m_folder);
}

void SaveFileChooser::setFolder(const QString &folder)
{
    enter(Clean(PathBytes(folder)));
}

void SaveFileChooser::enter(const QByteArray &folder)
{
    m_folder = folder.isEmpty() ? QByteArray("/") : folder;
    m_lookIn->setText(PathText(m_folder));
    list();
}

void SaveFileChooser::list()
{
    m_entries->clear();
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const Entry &entry : Listing(m_folder)) {
        auto *item = new QListWidgetItem(entry.folder ? folderIcon : fileIcon, entry.text);
        item->setData(NameRole, entry.name);
        item->setData(FolderRole, entry.folder);
        m_entries->addItem(item);
    }
}

bool SaveFileChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_entries && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem *item = m_entries->currentItem())
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
        enter(Joined(m_folder, name));
        return;
    }
    m_fileName->setText(PathText(name));
    accept();
}

void SaveFileChooser::showChosen(QListWidgetItem *item)
{
    if (item && !item->data(FolderRole).toBool())
        m_fileName->setText(PathText(item->data(NameRole).toByteArray()));
}

void SaveFileChooser::accept()
{
    const QString typed = m_fileName->text();
    if (typed.isEmpty())
        return;
    QByteArray path = Joined(m_folder, PathBytes(typed));
    if (IsFolder(path)) {
        enter(path);
        m_fileName->clear();
        return;
    }
    if (!path.mid(path.lastIndexOf('/') + 1).contains('.'))
        path += '.' + DefaultSuffix.toLatin1();
    // The next showing opens where this choice was made, with its name.
    const qsizetype slash = path.lastIndexOf('/');
    enter(slash > 0 ? path.left(slash) : QByteArray("/"));
    m_fileName->setText(PathText(path.mid(slash + 1)));
    m_selected = PathText(path);
    QDialog::accept();
}

} // namespace noggix
