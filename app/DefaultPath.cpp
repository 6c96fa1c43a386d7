#include "DefaultPath.h"

#include <QStandardPaths>

namespace noggix
{

QString DocumentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString DefaultBackupPath(const QString &folder)
{
    QString path = folder;
    if (!path.endsWith(u'/'))
        path += u'/';
    return path + QStringLiteral("mybrain.brains");
}

} // namespace noggix
