#pragma once

// The path that the main window proposes for the backup file.

#include <QString>

namespace noggix
{

// The user's documents folder as the desktop names it (the XDG documents directory), or an
// empty string when it cannot be found.
QString DocumentsFolder();

// folder followed by "mybrain.brains", with a "/" between them unless folder already ends with
// one; an empty folder gives "/mybrain.brains".
QString DefaultBackupPath(const QString &folder);

} // namespace noggix
