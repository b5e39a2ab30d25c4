// The six windows' creation order and their global handles.
#include "app/Forms.h"

#include "app/mainU.h"
#include "app/messageU.h"
#include "app/passU.h"
#include "app/settingsU.h"
#include "encryption/passwordU.h"
#include "wipe/frmshred_u.h"

#include <QWidget>

TfrmMain* frmMain = nullptr;
TfrmShred* frmShred = nullptr;
TfrmPass* frmPass = nullptr;
TfrmSettings* frmSettings = nullptr;
TfrmPasswordDlg* frmPasswordDlg = nullptr;
TfrmMessage* frmMessage = nullptr;

void CreateForms()
{
    frmMain = new TfrmMain();
    frmShred = new TfrmShred();
    frmPass = new TfrmPass();
    frmSettings = new TfrmSettings();
    frmPasswordDlg = new TfrmPasswordDlg();
    frmMessage = new TfrmMessage();
    // The program ends when the main window closes, even while the shred window is still open.
    const std::initializer_list<QWidget*> others = {frmShred, frmPass, frmSettings, frmPasswordDlg, frmMessage};
    for (QWidget* window : others) {
        window->setAttribute(Qt::WA_QuitOnClose, false);
    }
}

void DestroyForms()
{
    // Top-level windows without a parent: these are the only deletes by hand.
    delete frmMessage;
    frmMessage = nullptr;
    delete frmPasswordDlg;
    frmPasswordDlg = nullptr;
    delete frmSettings;
    frmSettings = nullptr;
    delete frmPass;
    frmPass = nullptr;
    delete frmShred;
    frmShred = nullptr;
    delete frmMain;
    frmMain = nullptr;
}

bool ShowMainWindow()
{
    // Asked before the main window appears, so that nothing of the file tree is seen without it.
    if (!CheckProgramPassword()) {
        return false;
    }
    frmMain->show();
    return true;
}
