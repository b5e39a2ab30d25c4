// The program's own arguments, as file managers and the desktop launcher pass them.
#include "app/StartArguments.h"

#include "app/Forms.h"
#include "app/mainU.h"
#include "browse/FolderTree.h"

#include <QDir>
#include <QFileInfo>

std::optional<TStartRequest> ParseStartArguments(const QStringList& arguments, QString& error)
{
    TStartRequest request;
    QStringList paths;
    bool onlyPaths = false;
    for (const QString& argument : arguments) {
        if (!onlyPaths && argument == "--") {
            onlyPaths = true;
            continue;
        }
        if (!onlyPaths && argument.startsWith("-")) {
            TStartRequest::TAction action = TStartRequest::TAction::None;
            if (argument == "--encrypt") {
                action = TStartRequest::TAction::Encrypt;
            } else if (argument == "--decrypt") {
                action = TStartRequest::TAction::Decrypt;
            } else if (argument == "--shred") {
                action = TStartRequest::TAction::Shred;
            } else {
                error = "unknown option " + argument;
                return std::nullopt;
            }
            if (request.Action != TStartRequest::TAction::None) {
                error = "only one of --encrypt, --decrypt and --shred";
                return std::nullopt;
            }
            request.Action = action;
            continue;
        }
        paths.append(argument);
    }
    if (request.Action == TStartRequest::TAction::None) {
        if (paths.size() > 1) {
            error = "one folder or file to open";
            return std::nullopt;
        }
        if (!paths.isEmpty()) {
            request.Action = TStartRequest::TAction::Open;
        }
    } else if (paths.isEmpty()) {
        error = "no paths given";
        return std::nullopt;
    }
    for (const QString& path : paths) {
        const QFileInfo info(path);
        // A link is taken as itself, as the tree shows it.
        if (!info.exists() && !info.isSymLink()) {
            error = "no such file or folder: " + path;
            return std::nullopt;
        }
        QString absolute = QDir::cleanPath(info.absoluteFilePath());
        request.Paths.append(absolute);
    }
    return request;
}

void CarryOutStartRequest(const TStartRequest& request)
{
    if (request.Action == TStartRequest::TAction::None || request.Paths.isEmpty()) {
        return;
    }
    // The tree selects children of one folder only: paths elsewhere are left out, as a user could
    // not have selected them together either.
    frmMain->TV->SelectPaths(request.Paths);
    switch (request.Action) {
    case TStartRequest::TAction::None:
    case TStartRequest::TAction::Open:
        return;
    case TStartRequest::TAction::Encrypt:
        frmMain->pEncryptItems0Click();
        return;
    case TStartRequest::TAction::Decrypt:
        frmMain->pEncryptItems1Click();
        return;
    case TStartRequest::TAction::Shred:
        frmMain->gToolsItems1Click();
        return;
    }
}
