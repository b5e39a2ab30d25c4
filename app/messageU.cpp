// The message box TfrmMessage with its kinds and button sets, and the message log.
#include "app/messageU.h"

#include "app/Forms.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace
{
// The design's sizes are for an 8-point face with 13-pixel lines; the desktop's font scales them.
double FontScale(const QWidget* widget)
{
    return std::max(1.0, widget->fontMetrics().height() / 13.0);
}

int Scaled(int designPixels, double scale)
{
    return static_cast<int>(designPixels * scale + 0.5);
}
} // namespace

TfrmMessage::TfrmMessage(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmMessage");
    setWindowTitle("Information");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const double scale = FontScale(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::StyledPanel);
    Bevel1->setFrameShadow(QFrame::Sunken);
    ImgInfo = new QLabel(this);
    ImgInfo->setObjectName("ImgInfo");
    ImgInfo->setAccessibleName("Information picture");
    ImgInfo->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
    ImgInfo->hide();
    imgConfirm = new QLabel(this);
    imgConfirm->setObjectName("imgConfirm");
    imgConfirm->setAccessibleName("Confirmation picture");
    imgConfirm->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(iconSize));
    imgConfirm->hide();
    imagMain = new QLabel(Bevel1);
    imagMain->setObjectName("imagMain");
    imagMain->setPixmap(ImgInfo->pixmap());
    imagMain->setAccessibleName(ImgInfo->accessibleName());
    imagMain->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    labMsg = new QLabel(Bevel1);
    labMsg->setObjectName("labMsg");
    labMsg->setAccessibleName("Message");
    // File names may hold "<" and "&": the text is never markup.
    labMsg->setTextFormat(Qt::PlainText);
    labMsg->setWordWrap(true);
    labMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Three whole lines, as the design's 41 pixels hold; what does not fit is cut off.
    labMsg->setFixedSize(Scaled(211, scale), std::max(Scaled(41, scale), 3 * labMsg->fontMetrics().lineSpacing() + 1));

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");

    auto* inside = new QHBoxLayout(Bevel1);
    inside->setContentsMargins(Scaled(16, scale), Scaled(16, scale), Scaled(12, scale), Scaled(8, scale));
    inside->setSpacing(Scaled(16, scale));
    inside->addWidget(imagMain, 0, Qt::AlignTop);
    inside->addWidget(labMsg, 0, Qt::AlignTop);
    // One button or two, the row stays centred under the bevel.
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Scaled(8, scale), Scaled(8, scale), Scaled(8, scale), Scaled(8, scale));
    layout->addWidget(Bevel1);
    layout->addLayout(buttons);
    // Not resizable: the box is exactly as large as its contents.
    layout->setSizeConstraint(QLayout::SetFixedSize);

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

void TfrmMessage::reject()
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
    // Kinds 0 and 1 have no picture of their own and keep the last one shown; an unknown kind keeps
    // the title as well.
    switch (Kind) {
    case kMsgWarning:
        setWindowTitle("    Warning");
        break;
    case kMsgError:
        setWindowTitle("    Error");
        break;
    case kMsgInformation:
        setWindowTitle("    Information");
        imagMain->setPixmap(ImgInfo->pixmap());
        imagMain->setAccessibleName(ImgInfo->accessibleName());
        break;
    case kMsgConfirm:
        setWindowTitle("    Confirm");
        imagMain->setPixmap(imgConfirm->pixmap());
        imagMain->setAccessibleName(imgConfirm->accessibleName());
        break;
    default:
        break;
    }
    labMsg->setText(Text);
    labMsg->setAccessibleName(Text);
    // A screen reader reads a dialog's description when it opens, so the message is heard at once.
    setAccessibleDescription(Text);
    // Any other set keeps the buttons exactly as the previous call left them.
    if (Buttons == kButtonsYesCancel || Buttons == kButtonsOkCancel) {
        OKBtn->setText(Buttons == kButtonsYesCancel ? "Yes" : "OK");
        CancelBtn->setText("Cancel");
        OKBtn->show();
        CancelBtn->show();
    } else if (Buttons == kButtonsOk) {
        OKBtn->setText("OK");
        CancelBtn->setText("Cancel");
        CancelBtn->hide();
        OKBtn->show();
    }
    if (!PendingAnswers().empty()) {
        const int answer = PendingAnswers().front();
        PendingAnswers().pop_front();
        Answered().push_back({Text, Kind, Buttons});
        return answer;
    }
    OKBtn->setFocus();
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
    setAccessibleName("Message log");
    setColumnCount(1);
    setHeaderLabels({"Message"});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->resizeSection(0, 350);
    m_images[0] = style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this);
    m_images[1] = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this);
}

void TMessageLog::AddLine(const QString& text, int image)
{
    auto* item = new QTreeWidgetItem(this, QStringList{text});
    const int index = image == 1 ? 1 : 0;
    item->setData(0, Qt::UserRole, index);
    item->setIcon(0, m_images[index]);
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
