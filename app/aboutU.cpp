// The about box, created for each showing and freed when it closes.
#include "app/aboutU.h"

#include "app/HelpLinks.h"
#include "platform/Shell.h"

#include <QEnterEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

TfrmAbout* frmAbout = nullptr;

namespace {
template <class T, class... Args> T* Named(QWidget* parent, const char* name, Args&&... args)
{
    T* widget = new T(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    return widget;
}

// The picture along the left edge: a padlock on a dark band, drawn so that no image file is needed.
QPixmap SidePicture(int width, int height)
{
    QPixmap picture(width, height);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 0, height);
    band.setColorAt(0, QColor(0x1F, 0x3A, 0x5F));
    band.setColorAt(1, QColor(0x0B, 0x16, 0x26));
    painter.fillRect(picture.rect(), band);
    const qreal x = width * 0.2;
    const qreal w = width * 0.6;
    const qreal top = height * 0.16;
    QPen shackle(QColor(0xC8, 0xD2, 0xDC), w * 0.14);
    painter.setPen(shackle);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(x + w * 0.18, top, w * 0.64, w * 0.8), 0, 180 * 16);
    painter.drawLine(QPointF(x + w * 0.18, top + w * 0.4), QPointF(x + w * 0.18, top + w * 0.6));
    painter.drawLine(QPointF(x + w * 0.82, top + w * 0.4), QPointF(x + w * 0.82, top + w * 0.6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xE0, 0xA8, 0x2E));
    painter.drawRoundedRect(QRectF(x, top + w * 0.55, w, w * 0.75), w * 0.08, w * 0.08);
    painter.setBrush(QColor(0x3A, 0x2A, 0x0A));
    painter.drawEllipse(QPointF(x + w / 2, top + w * 0.85), w * 0.09, w * 0.09);
    painter.drawRect(QRectF(x + w / 2 - w * 0.035, top + w * 0.85, w * 0.07, w * 0.22));
    return picture;
}
} // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setTextFormat(Qt::PlainText);
    SetHot(false);
}

void TLinkLabel::SetHot(bool hot)
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, hot ? Qt::red : Qt::blue);
    setPalette(colours);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        emit Clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TLinkLabel::enterEvent(QEnterEvent* event)
{
    emit MouseEntered();
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event)
{
    emit MouseLeft();
    QLabel::leaveEvent(event);
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent)
{
    frmAbout = this;
    setObjectName("frmAbout");
    setWindowTitle("      About");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setMinimumSize(344, 220);

    Image1 = Named<QLabel>(this, "Image1");
    Image1->setPixmap(SidePicture(72, 200));
    Image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    Image1->setAccessibleName("Vellumox picture");
    Bevel1 = Named<QFrame>(this, "Bevel1");
    Bevel1->setFrameShape(QFrame::VLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setAccessibleName("Separator");

    Label1 = Named<QLabel>(this, "Label1", "Vellumox");
    QFont title = Label1->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 2.0);
    Label1->setFont(title);
    Label1->setAccessibleName("Vellumox");
    Label8 = Named<QLabel>(this, "Label8", QString::fromUtf8("\u00AE"));
    Label8->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    Label8->setAccessibleName("Registered");
    Label2 = Named<QLabel>(this, "Label2", "Version 1.5");
    Label2->setAlignment(Qt::AlignCenter);
    Label3 = Named<QLabel>(this, "Label3",
                           QString::fromUtf8("Copyright \u00A9 the Vellumox developers.\nAll rights reserved."));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setAccessibleName(Label3->text());
    Label4 = Named<QLabel>(this, "Label4", "Web site:");
    Label5 = Named<TLinkLabel>(this, "Label5", VendorAddresses().webSite);
    Label6 = Named<QLabel>(this, "Label6", "E-mail:");
    Label7 = Named<TLinkLabel>(this, "Label7", VendorAddresses().email);
    Label4->setAccessibleName("Web site:");
    Label5->setAccessibleName("Web site: " + Label5->text());
    Label6->setAccessibleName("E-mail:");
    Label7->setAccessibleName("E-mail: " + Label7->text());
    Label4->setBuddy(Label5);
    Label6->setBuddy(Label7);
    // Without a configured address there is nothing to link to.
    const bool site = !Label5->text().isEmpty();
    const bool mail = !Label7->text().isEmpty();
    Label4->setVisible(site);
    Label5->setVisible(site);
    Label6->setVisible(mail);
    Label7->setVisible(mail);
    btnOk = Named<QPushButton>(this, "btnOk", "OK");
    btnOk->setDefault(true);
    btnOk->setAccessibleName("OK");

    auto* name = new QHBoxLayout();
    name->addStretch();
    name->addWidget(Label1);
    name->addWidget(Label8);
    name->addStretch();
    auto* links = new QGridLayout();
    links->addWidget(Label4, 0, 0);
    links->addWidget(Label5, 0, 1);
    links->addWidget(Label6, 1, 0);
    links->addWidget(Label7, 1, 1);
    links->setColumnStretch(1, 1);
    auto* ok = new QHBoxLayout();
    ok->addStretch();
    ok->addWidget(btnOk);
    ok->addStretch();
    auto* text = new QVBoxLayout();
    text->addLayout(name);
    text->addWidget(Label2);
    text->addSpacing(6);
    text->addWidget(Label3);
    text->addStretch();
    text->addLayout(links);
    text->addStretch();
    text->addLayout(ok);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(Image1);
    layout->addWidget(Bevel1);
    layout->addLayout(text, 1);

    connect(Label5, &TLinkLabel::Clicked, this, &TfrmAbout::Label5Click);
    connect(Label7, &TLinkLabel::Clicked, this, &TfrmAbout::Label7Click);
    connect(Label5, &TLinkLabel::MouseEntered, this, &TfrmAbout::Label5MouseEnter);
    connect(Label5, &TLinkLabel::MouseLeft, this, &TfrmAbout::Label5MouseLeave);
    connect(Label7, &TLinkLabel::MouseEntered, Label7, [this] { Label7->SetHot(true); });
    connect(Label7, &TLinkLabel::MouseLeft, Label7, [this] { Label7->SetHot(false); });
    connect(btnOk, &QPushButton::clicked, this, &TfrmAbout::btnOkClick);
}

TfrmAbout::~TfrmAbout()
{
    if (frmAbout == this) {
        frmAbout = nullptr;
    }
}

void TfrmAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TfrmAbout::FormShow()
{
    const QString version = QString::fromUtf8(ProgramVersion());
    if (!version.isEmpty()) {
        Label2->setText("Version " + version);
    }
    Label2->setAccessibleName(Label2->text());
}

void TfrmAbout::Label5Click()
{
    OpenHomePage();
}

void TfrmAbout::Label7Click()
{
    const QString email = VendorAddresses().email.trimmed();
    if (!email.isEmpty()) {
        ShellOpen("mailto:" + email);
    }
}

void TfrmAbout::Label5MouseEnter()
{
    Label5->SetHot(true);
}

void TfrmAbout::Label5MouseLeave()
{
    Label5->SetHot(false);
}

void TfrmAbout::btnOkClick()
{
    close();
}
