// What the program is asked to do at start: open a folder, or run a command on paths that a file
// manager hands over.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct TStartRequest
{
    enum class TAction
    {
        None,
        Open,
        Encrypt,
        Decrypt,
        Shred,
    };
    TAction Action = TAction::None;
    // Absolute paths, without trailing separators.
    QStringList Paths;
};

inline constexpr const char* kStartUsage = "usage: vellumox [PATH] | vellumox --encrypt|--decrypt|--shred PATH...";

// arguments without the program's name. Empty, with the reason in error, for wrong arguments.
std::optional<TStartRequest> ParseStartArguments(const QStringList& arguments, QString& error);

// Shows the paths in the main window, selected, and runs the command on them as if the user had
// chosen it. The main window must be shown. Returns when the command's dialog has closed.
void CarryOutStartRequest(const TStartRequest& request);
