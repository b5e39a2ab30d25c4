// The one message box of the program and the message log that runs write their summaries into.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include <deque>
#include <vector>

class QFrame;
class QLabel;
class QPushButton;

// Kinds and button sets that ShowMsg takes.
enum : int
{
    kMsgWarning = 0,
    kMsgError = 1,
    kMsgInformation = 2,
    kMsgConfirm = 3,
};
enum : int
{
    kButtonsOk = 4,
    kButtonsYesCancel = 9,
    kButtonsOkCancel = 12,
};
constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;

class TfrmMessage final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmMessage(QWidget* parent = nullptr);

    // Shows the box modally; 1 for OK or Yes, 2 for Cancel, Escape or the frame's close button.
    int ShowMsg(const QString& Text, int Kind, int Buttons);

    // Test seam: the next call of ShowMsg records its arguments and returns this answer without
    // showing anything. Answers queue up, one per call.
    struct TShownMessage
    {
        QString Text;
        int Kind = 0;
        int Buttons = 0;
    };
    static void SetNextAnswer(int result);
    static bool HasPendingAnswer();
    static void ClearPendingAnswers();
    // Every call answered through the seam, oldest first.
    static std::vector<TShownMessage>& Answered();

    QFrame* Bevel1 = nullptr;
    QLabel* imagMain = nullptr;
    QLabel* labMsg = nullptr;
    QLabel* ImgInfo = nullptr;
    QLabel* imgConfirm = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

protected:
    // Escape and the frame's close button give 2, like Cancel.
    void reject() override;

private:
    void OKBtnClick();
    void CancelBtnClick();

    static std::deque<int>& PendingAnswers();
};

// ShowMsg on the program's message box (frmMessage).
int ShowMsg(const QString& Text, int Kind, int Buttons);

// The one-column log ("Message") at the bottom of the main window. Lines are only appended.
class TMessageLog final : public QTreeWidget
{
    Q_OBJECT
public:
    explicit TMessageLog(QWidget* parent = nullptr);

    // image: 0 information, 1 warning.
    void AddLine(const QString& text, int image);
    int LineCount() const;
    QString LineText(int index) const;
    int LineImage(int index) const;

private:
    QIcon m_images[2];
};
