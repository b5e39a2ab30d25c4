// The shred run over a selection, with its window, and the permanent delete run.
#include "wipe/ShredRuns.h"

#include "app/Forms.h"
#include "app/MessagePump.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "encryption/Runs.h"
#include "platform/Files.h"
#include "wipe/DeleteTree.h"
#include "wipe/WipeReach.h"
#include "wipe/frmshred_u.h"
#include "wipe/funkcije_u.h"

#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <exception>

std::int32_t SelectedFileCount = 0;

namespace {
constexpr const char* kShredQuestion = "Are you sure you wont to shred selected file(s)? ";
constexpr const char* kDeleteQuestion = "Are you sure you wont to delete selected file(s)?";
constexpr const char* kShredWarning = "Some files can not be shredded because they are in use.!";
// A confirmation or report names at most this many paths, then says how many more there are.
constexpr std::size_t kNamesShown = 10;

bool g_running = false;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string NameList(const std::vector<std::string>& names, const char* separator)
{
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
        list += (i > 0 ? separator : "") + names[i];
    }
    if (names.size() > kNamesShown) {
        list += separator + std::string("and ") + std::to_string(names.size() - kNamesShown) + " more";
    }
    return list;
}

bool HasOtherNames(const std::string& path)
{
    const auto entry = FindEntry(path);
    return entry && entry->kind == TEntryKind::File && HardLinkCount(path) > 1;
}

// The files of the selection whose data stays reachable through another name once they are shredded.
std::vector<std::string> HardLinkedFiles(const std::vector<std::string>& selection)
{
    std::vector<std::string> linked;
    for (auto item = selection.rbegin(); item != selection.rend(); ++item) {
        if (IsDirectory(*item)) {
            for (const std::string& file : ExpandFolder(*item)) {
                if (HasOtherNames(file)) {
                    linked.push_back(file);
                }
            }
        } else if (HasOtherNames(*item)) {
            linked.push_back(*item);
        }
    }
    return linked;
}

// The run's frame: the main window hears that a run goes on and the wipes keep the windows alive;
// whatever ends the run, the tree is refreshed and the window closed.
class TShredRunFrame
{
public:
    TShredRunFrame()
    {
        g_running = true;
        SetWipeMessagePump(&PumpThrottled);
        if (frmMain != nullptr) {
            frmMain->ShredRunStateChanged(true);
        }
    }
    ~TShredRunFrame()
    {
        SetWipeMessagePump({});
        g_running = false;
        try {
            if (frmMain != nullptr) {
                frmMain->bRefreshClick();
            }
        } catch (...) {
        }
        if (frmShred != nullptr) {
            frmShred->close();
        }
        if (frmMain != nullptr) {
            frmMain->ShredRunStateChanged(false);
        }
    }
    TShredRunFrame(const TShredRunFrame&) = delete;
    TShredRunFrame& operator=(const TShredRunFrame&) = delete;
};

void LogProblem(const std::string& line)
{
    if (frmMain != nullptr && frmMain->LVMessages != nullptr) {
        frmMain->LVMessages->AddLine(Text(line), 1);
    }
}

// ShredFile, with the reason for a failure kept in the message log.
bool ShredLogged(const std::string& path)
{
    std::string failure;
    if (ShredFile(path, &failure)) {
        return true;
    }
    if (failure.find(path) == std::string::npos) {
        failure = "\"" + path + "\": " + failure;
    }
    LogProblem("Not shredded: " + failure);
    return false;
}

QString Count(std::int64_t number, std::int64_t of)
{
    return QString::number(number) + "  of  " + QString::number(of);
}
} // namespace

std::string ShredQuestion(const std::vector<std::string>& selection)
{
    std::string question = kShredQuestion;
    std::vector<TReachNote> notes;
    for (const std::string& path : selection) {
        notes.push_back(WipeReachProbe(path));
    }
    question += ReachSentence(notes);
    const std::vector<std::string> linked = HardLinkedFiles(selection);
    if (!linked.empty()) {
        question += "\n\nThese files have other names (hard links) that will keep showing their data, "
                    "overwritten, after the shred: " +
                    NameList(linked, ", ") + ".";
    }
    return question;
}

void ConfirmAndShred(const std::vector<std::string>& selection)
{
    // The shred window is not modal: a second run must not start inside the first.
    if (g_running) {
        return;
    }
    if (ShowMsg(Text(ShredQuestion(selection)), kMsgConfirm, kButtonsYesCancel) != kResultOk) {
        return;
    }
    ShredSelection(selection);
}

void ConfirmAndDelete(const std::vector<std::string>& selection)
{
    if (g_running) {
        return;
    }
    if (ShowMsg(kDeleteQuestion, kMsgConfirm, kButtonsYesCancel) != kResultOk) {
        return;
    }
    DeleteSelection(selection);
}

void ShredSelection(const std::vector<std::string>& selection)
{
    if (g_running) {
        return;
    }
    TShredRunFrame frame;
    SelectedFileCount = 0;
    ShredRepeat = 1;
    ShredMethod = 2;
    ShredCancelled = false;
    for (auto item = selection.rbegin(); item != selection.rend(); ++item) {
        if (!IsDirectory(*item)) {
            ++SelectedFileCount;
        }
    }

    TfrmShred& window = *frmShred;
    window.ProgressBar2->setRange(0, std::max<int>(static_cast<int>(selection.size()), 1));
    window.ProgressBar2->setValue(1);
    window.ProgressBar1->setValue(0);
    window.labFolder->setText("Folder: ");
    window.labTitle->setText("File: ");
    window.labProcessed->clear();
    window.labMetod->clear();
    window.show();
    window.raise();

    std::int64_t processed = 0;
    bool failed = false;
    for (auto item = selection.rbegin(); item != selection.rend(); ++item) {
        const std::string& path = *item;
        if (ShredCancelled) {
            continue;
        }
        window.ProgressBar2->setValue(static_cast<int>(processed + 1));
        if (IsDirectory(path)) {
            window.labFolder->setText(Text("Folder: " + path));
            window.labFolder->setToolTip(Text(path));
            ++processed;
            // Shredding a whole volume is never what a selection in the tree means.
            if (IsVolumeRoot(path)) {
                LogProblem("Not shredded: \"" + path + "\" is the root of a mounted volume");
                failed = true;
                continue;
            }
            bool folderFailed = false;
            const std::vector<std::string> files = ExpandFolder(path);
            const auto found = static_cast<std::int64_t>(files.size());
            for (std::int64_t i = 0; i < found; ++i) {
                const std::string& file = files[static_cast<std::size_t>(i)];
                window.labTitle->setText(Text("File: " + NameOfPath(file)));
                window.labProcessed->setText(Count(i + 1, found));
                PumpNow();
                if (!ShredLogged(file)) {
                    failed = folderFailed = true;
                    continue;
                }
                if (ShredCancelled) {
                    break;
                }
            }
            if (!ShredCancelled && !folderFailed) {
                for (const TPathFailure& kept : RemoveShreddedFolder(path)) {
                    LogProblem("Not shredded: " + kept.message);
                    failed = true;
                }
            }
        } else {
            window.labFolder->setText(Text("Folder: " + FolderOfPath(path)));
            window.labFolder->setToolTip(Text(FolderOfPath(path)));
            window.labTitle->setText(Text("File: " + NameOfPath(path)));
            window.labProcessed->setText(Count(processed + 1, SelectedFileCount));
            PumpNow();
            if (!ShredLogged(path)) {
                failed = true;
                ++processed;
            } else if (!ShredCancelled) {
                ++processed;
            }
        }
    }
    if (failed) {
        ShowMsg(kShredWarning, kMsgWarning, kButtonsOk);
    }
}

void DeleteSelection(const std::vector<std::string>& selection)
{
    std::vector<TPathFailure> failures;
    for (auto item = selection.rbegin(); item != selection.rend(); ++item) {
        const std::vector<TPathFailure> more = DeleteTree(*item);
        failures.insert(failures.end(), more.begin(), more.end());
    }
    if (frmMain != nullptr) {
        frmMain->bRefreshClick();
    }
    if (failures.empty()) {
        return;
    }
    std::vector<std::string> lines;
    for (const TPathFailure& failure : failures) {
        lines.push_back(failure.message);
    }
    ShowMsg(Text("These could not be deleted:\n" + NameList(lines, "\n")), kMsgWarning, kButtonsOk);
}

bool ShredRunning()
{
    return g_running;
}
