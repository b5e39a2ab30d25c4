// The message box TfrmMessage with its kinds and button sets, and the message log.
#include "app/messageU.h"

#include "app/Forms.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TfrmMessage::TfrmMessage(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmMessage");
    setWindowTitle("Information");
    imagMain = new QLabel(this);
    imagMain->setObjectName("imagMain");
    labMsg = new QLabel(this);
    labMsg->setObjectName("labMsg");
    labMsg->setWordWrap(true);
    ImgInfo = new QLabel(this);
    ImgInfo->setObjectName("ImgInfo");
    ImgInfo->hide();
    imgConfirm = new QLabel(this);
    imgConfirm->setObjectName("imgConfirm");
    imgConfirm->hide();
    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");

    auto* top = new QHBoxLayout();
    top->addWidget(imagMain);
    top->addWidget(labMsg, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);

    connect(OKBtn, &QPushButton::clicked, this, &TfrmMessage::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TfrmMessage::CancelBtnClick);
}

void TfrmMessage::OKBtnClick()
{
    done(kResultOk);
}

void TfrmMessage::CancelBtnClick()
{
    done(kResultCancel);
}

std::deque<int>& TfrmMessage::PendingAnswers()
{
    static std::deque<int> answers;
    return answers;
}

std::vector<TfrmMessage::TShownMessage>& TfrmMessage::Answered()
{
    static std::vector<TShownMessage> answered;
    return answered;
}

void TfrmMessage::SetNextAnswer(int result)
{
    PendingAnswers().push_back(result);
}

bool TfrmMessage::HasPendingAnswer()
{
    return !PendingAnswers().empty();
}

void TfrmMessage::ClearPendingAnswers()
{
    PendingAnswers().clear();
}

int TfrmMessage::ShowMsg(const QString& Text, int Kind, int Buttons)
{
    labMsg->setText(Text);
    CancelBtn->setVisible(Buttons != kButtonsOk);
    if (!PendingAnswers().empty()) {
        const int answer = PendingAnswers().front();
        PendingAnswers().pop_front();
        Answered().push_back({Text, Kind, Buttons});
        return answer;
    }
    const int result = exec();
    return result == kResultOk ? kResultOk : kResultCancel;
}

int ShowMsg(const QString& Text, int Kind, int Buttons)
{
    return frmMessage->ShowMsg(Text, Kind, Buttons);
}

TMessageLog::TMessageLog(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName("LVMessages");
    setColumnCount(1);
    setHeaderLabels({"Message"});
    setRootIsDecorated(false);
    header()->resizeSection(0, 350);
}

void TMessageLog::AddLine(const QString& text, int image)
{
    auto* item = new QTreeWidgetItem(this, QStringList{text});
    item->setData(0, Qt::UserRole, image);
    item->setIcon(0, style()->standardIcon(image == 1 ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation));
    scrollToItem(item);
}

int TMessageLog::LineCount() const
{
    return topLevelItemCount();
}

QString TMessageLog::LineText(int index) const
{
    return topLevelItem(index)->text(0);
}

int TMessageLog::LineImage(int index) const
{
    return topLevelItem(index)->data(0, Qt::UserRole).toInt();
}
