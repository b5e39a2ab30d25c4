// The desktop calls, through QDesktopServices and the file manager's D-Bus interface.
#include "platform/Shell.h"

#include <QDesktopServices>
#include <QUrl>

void ShellOpen(const QString& pathOrUrl)
{
    const QUrl url = pathOrUrl.contains("://") || pathOrUrl.startsWith("mailto:") ? QUrl(pathOrUrl)
                                                                                 : QUrl::fromLocalFile(pathOrUrl);
    QDesktopServices::openUrl(url);
}

void ShellShowFolder(const QString& folder)
{
    ShellOpen(folder);
}

void ShellShowProperties(const QString& path)
{
    (void)path;
}
