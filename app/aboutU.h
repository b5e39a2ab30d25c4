// The about box TfrmAbout: the product, its version, the rights notice and the vendor's links.
#pragma once

#include <QDialog>
#include <QLabel>

class QFrame;
class QPushButton;

// A label that acts as a link: blue, red while the pointer is over it, a hand cursor, and
// activated by a click or, when it has the focus, by Enter or Space.
class TLinkLabel final : public QLabel
{
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

    void SetHot(bool hot);

signals:
    void Clicked();
    void MouseEntered();
    void MouseLeft();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
};

class TfrmAbout final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    ~TfrmAbout() override;

    QLabel* Image1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TLinkLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    TLinkLabel* Label7 = nullptr;
    QPushButton* btnOk = nullptr;

    void FormShow();
    void Label5Click();
    void Label7Click();
    void Label5MouseEnter();
    void Label5MouseLeave();
    void btnOkClick();

protected:
    void showEvent(QShowEvent* event) override;
};

// The open about box, nullptr while none is open.
extern TfrmAbout* frmAbout;
