#pragma once

// The path that the main window proposes for the backup file.

#include <QByteArray>
#include <QString>

namespace noggix
{

// The user's documents folder as the desktop names it, as bytes: XDG_DOCUMENTS_DIR of
// user-dirs.dirs in $XDG_CONFIG_HOME (else $HOME/.config), with a leading $HOME replaced, else
// $HOME/Documents. Empty when neither names a folder.
QByteArray documentsFolderBytes();

// The same as the text the windows show (pathText), so that a folder whose name is not UTF-8
// still leads to itself.
QString documentsFolder();

// folder followed by "mybrain.brains", with a "/" between them unless folder already ends with
// one; an empty folder gives "/mybrain.brains".
QString defaultBackupPath(const QString &folder);

} // namespace noggix
