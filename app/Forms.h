// The program's six long-lived windows, created once in their fixed order, and where to find them.
#pragma once

class TfrmMain;
class TfrmShred;
class TfrmPass;
class TfrmSettings;
class TfrmPasswordDlg;
class TfrmMessage;

// Valid between CreateForms and DestroyForms; nullptr outside.
extern TfrmMain* frmMain;
extern TfrmShred* frmShred;
extern TfrmPass* frmPass;
extern TfrmSettings* frmSettings;
extern TfrmPasswordDlg* frmPasswordDlg;
extern TfrmMessage* frmMessage;

// Creates the windows in the order main, shred, operation dialog, settings (which loads the stored
// settings), password prompt, message box. None is shown.
void CreateForms();
// Destroys them in the reverse order; the tests call it between cases for fresh windows.
void DestroyForms();

// Program start once the windows exist: the program password check (when it is on), then the main
// window shown. False when the program is to end without a word: the password was wrong or the
// prompt was cancelled; the main window is not shown then.
bool ShowMainWindow();
