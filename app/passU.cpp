// The program password prompt: OK only while the typed password is right.
#include "app/passU.h"

#include "app/Application.h"
#include "app/Forms.h"
#include "app/messageU.h"
#include "app/settingsU.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

namespace
{
// A round sign: a red one with a cross while the password is wrong, a green one with a tick once it
// is right.
QPixmap Sign(bool right, int size, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(right ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xc6, 0x28, 0x28));
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    QPen pen(Qt::white, size / 8.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal s = size;
    if (right) {
        QPainterPath tick;
        tick.moveTo(s * 0.28, s * 0.52);
        tick.lineTo(s * 0.44, s * 0.68);
        tick.lineTo(s * 0.72, s * 0.34);
        painter.drawPath(tick);
    } else {
        painter.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
        painter.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
    }
    return pixmap;
}
} // namespace

TfrmPasswordDlg::TfrmPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPasswordDlg");
    setWindowTitle("      Password");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    Label1 = new QLabel("Enter password:", this);
    Label1->setObjectName("Label1");
    Password = new QLineEdit(this);
    Password->setObjectName("Password");
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    Label1->setBuddy(Password);
    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    OKBtn->setEnabled(false);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");

    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    ImgNo = new QLabel(this);
    ImgNo->setObjectName("ImgNo");
    ImgNo->setAccessibleName("Password not right");
    ImgNo->setPixmap(Sign(false, size, devicePixelRatioF()));
    imgOk = new QLabel(this);
    imgOk->setObjectName("imgOk");
    imgOk->setAccessibleName("Password right");
    imgOk->setPixmap(Sign(true, size, devicePixelRatioF()));
    imgOk->hide();

    // The two pictures share one place: one cell, only one of them visible.
    auto* top = new QGridLayout();
    top->addWidget(ImgNo, 0, 0, 2, 1, Qt::AlignCenter);
    top->addWidget(imgOk, 0, 0, 2, 1, Qt::AlignCenter);
    top->addWidget(Label1, 0, 1);
    top->addWidget(Password, 1, 1);
    top->setColumnStretch(1, 1);
    top->setColumnMinimumWidth(1, Password->fontMetrics().averageCharWidth() * 32);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Password, &QLineEdit::textChanged, this, &TfrmPasswordDlg::PasswordChange);
    connect(OKBtn, &QPushButton::clicked, this, &TfrmPasswordDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TfrmPasswordDlg::CancelBtnClick);
}

void TfrmPasswordDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        Password->clear();
        ImgNo->show();
        imgOk->hide();
        OKBtn->setEnabled(false);
        Password->setFocus();
    }
}

void TfrmPasswordDlg::PasswordChange()
{
    if (frmSettings == nullptr || !frmSettings->AskForPassword->isChecked()) {
        return;
    }
    const bool right = frmSettings->ProgramPasswordMatches(Password->text());
    ImgNo->setVisible(!right);
    imgOk->setVisible(right);
    OKBtn->setEnabled(right);
}

void TfrmPasswordDlg::OKBtnClick()
{
    done(kResultOk);
}

void TfrmPasswordDlg::CancelBtnClick()
{
    done(kResultCancel);
}

void TfrmPasswordDlg::reject()
{
    done(kResultCancel);
}

bool CheckProgramPassword()
{
    if (!frmSettings->AskForPassword->isChecked() || frmPasswordDlg->Passed) {
        return true;
    }
    const int result = frmPasswordDlg->exec();
    QString typed = frmPasswordDlg->Password->text();
    frmPasswordDlg->Password->clear();
    const bool right = result == kResultOk && frmSettings->ProgramPasswordMatches(typed);
    if (right && frmSettings->StoredPasswordIsOlderForm()) {
        try {
            frmSettings->SaveProgramPassword(typed, true);
        } catch (const std::exception& error) {
            // The older value still opens the program; it is rewritten at a later start.
            ShowErrorReport(QString::fromUtf8(error.what()));
        }
    }
    typed.fill(QChar(0));
    frmPasswordDlg->Passed = right;
    return right;
}
