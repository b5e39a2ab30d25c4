// Calls into the desktop: open a file, folder or address, show a folder, show an item's properties.
#pragma once

#include <QString>

#include <functional>

// Opens a file with its default program, a folder in the file manager, a web or mailto: address.
void ShellOpen(const QString& pathOrUrl);
// Shows a folder in the desktop's file manager.
void ShellShowFolder(const QString& folder);
// Shows the properties of a file or folder; errors are ignored.
void ShellShowProperties(const QString& path);

// Test seam: while set, the calls above hand their verb ("open", "folder", "properties") and
// argument to it instead of reaching the desktop. Pass nullptr to restore.
void SetShellRecorder(std::function<void(const QString& verb, const QString& argument)> recorder);
