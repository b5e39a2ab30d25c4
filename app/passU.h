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
};
