#include "DefaultPath.h"

#include "PathText.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace noggix
{
namespace
{

// $HOME cleaned as a path, or "/" when it is not set, as Qt's home path is.
QByteArray homeFolder()
{
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? QByteArray("/") : pathBytes(QDir::cleanPath(pathText(home)));
}

// The value of XDG_DOCUMENTS_DIR in the user-dirs.dirs file of config, the last one given,
// without its quotes and with a leading $HOME replaced; empty when there is none.
QByteArray userDirsEntry(const QByteArray &config, const QByteArray &home)
{
    const int fd = ::open((config + "/user-dirs.dirs").constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const QByteArray key = "XDG_DOCUMENTS_DIR=";
    QByteArray folder;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.startsWith(key))
            continue;
        QByteArray value = line.mid(key.size());
        if (value.size() > 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        folder = value.startsWith("$HOME") ? home + value.mid(5) : value;
        if (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
    }
    return folder;
}

} // namespace

QByteArray documentsFolderBytes()
{
    const QByteArray home = homeFolder();
    QByteArray config = qgetenv("XDG_CONFIG_HOME");
    if (!config.startsWith('/'))
        config = home + "/.config";
    const QByteArray listed = userDirsEntry(config, home);
    return listed.isEmpty() ? home + "/Documents" : listed;
}

QString documentsFolder()
{
    return pathText(documentsFolderBytes());
}

QString defaultBackupPath(const QString &folder)
{
    QString path = folder;
    if (!path.endsWith(u'/'))
        path += u'/';
    return path + QStringLiteral("mybrain.brains");
}

} // namespace noggix
