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
