// The program password prompt TfrmPasswordDlg, asked at start-up when the program password is on.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmPasswordDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPasswordDlg(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* Password = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QLabel* ImgNo = nullptr;
    QLabel* imgOk = nullptr;

    // Set once the start-up check has let this run of the windows in.
    bool Passed = false;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void PasswordChange();
    void OKBtnClick();
    void CancelBtnClick();
};

// The start-up check: when AskForPassword is checked, shows the prompt modally and answers whether
// the program may go on (right password and OK); true at once when the check is off or was already
// passed in this run, so calling it again never asks twice. An older stored value is rewritten in
// the current form after a right answer. Called by main() before the main window is shown; a false
// answer ends the program without a message.
bool CheckProgramPassword();
