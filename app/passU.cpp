// The program password prompt: OK only while the typed password is right.
#include "app/passU.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmPasswordDlg::TfrmPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPasswordDlg");
    setWindowTitle("      Password");
    Label1 = new QLabel("Enter password:", this);
    Password = new QLineEdit(this);
    Password->setObjectName("Password");
    Password->setEchoMode(QLineEdit::Password);
    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    ImgNo = new QLabel(this);
    ImgNo->setObjectName("ImgNo");
    imgOk = new QLabel(this);
    imgOk->setObjectName("imgOk");
}
