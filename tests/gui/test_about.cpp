// The about box and the help commands, with and without the vendor's addresses.
#include "app/Forms.h"
#include "app/HelpLinks.h"
#include "app/aboutU.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "tests/gui/GuiTestSupport.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QFrame>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

// Failures print texts, not their code units.
[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {
// Stands in for the desktop's browser and mail program: records what would have been opened.
class TUrlCatcher final : public QObject
{
    Q_OBJECT
public:
    TUrlCatcher()
    {
        for (const char* scheme : {"http", "https", "mailto", "file"}) {
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        }
    }
    ~TUrlCatcher() override
    {
        for (const char* scheme : {"http", "https", "mailto", "file"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    QStringList urls;

public slots:
    void Open(const QUrl& url) { urls << url.toString(); }
};

class TVendorPin
{
public:
    TVendorPin(const QString& site, const QString& email) : m_saved(VendorAddresses())
    {
        VendorAddresses() = {site, email};
    }
    ~TVendorPin() { VendorAddresses() = m_saved; }

private:
    TVendorAddresses m_saved;
};

// Opens the about box, lets act look at it, then presses OK; fails when it never opened.
void WithAboutBox(const std::function<void(TfrmAbout&)>& act)
{
    TModalDriver driver([] { return static_cast<QWidget*>(frmAbout); },
                        [&](QWidget*) {
                            act(*frmAbout);
                            QTest::mouseClick(frmAbout->btnOk, Qt::LeftButton);
                        });
    ShowAboutBox(frmMain);
    ASSERT_TRUE(driver.WaitDone());
    EXPECT_EQ(frmAbout, nullptr) << "the box is freed when it closes";
}

QColor TextColour(const QWidget* widget)
{
    return widget->palette().color(QPalette::WindowText);
}
} // namespace

using AboutTest = TGuiTest;

TEST_F(AboutTest, EachShowingIsAFreshBoxWithTheBuildsVersion)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QString version;
        bool seenBefore = true;
        WithAboutBox([&](TfrmAbout& box) {
            version = box.Label2->text();
            seenBefore = box.property("seen").toBool();
            box.setProperty("seen", true);
            EXPECT_EQ(box.windowTitle(), "      About");
            EXPECT_EQ(box.parentWidget(), frmMain);
        });
        EXPECT_FALSE(seenBefore);
        EXPECT_EQ(version, QString("Version ") + VX_VERSION);
        EXPECT_TRUE(QRegularExpression(R"(^Version \d+\.\d+\.\d+\.\d+$)").match(version).hasMatch())
            << version.toStdString();
    }
}

TEST_F(AboutTest, ItsControlsAreNamedAndWithoutVendorItShowsNoLinks)
{
    TVendorPin pin({}, {});
    WithAboutBox([](TfrmAbout& box) {
        for (const char* name : {"Image1", "Bevel1", "Label1", "Label8", "Label2", "Label3", "Label4", "Label5",
                                 "Label6", "Label7", "btnOk"}) {
            auto* control = FindChecked<QWidget>(&box, name);
            ASSERT_NE(control, nullptr);
            EXPECT_FALSE(control->accessibleName().isEmpty()) << name;
        }
        EXPECT_EQ(box.Label1->text(), "Vellumox");
        EXPECT_TRUE(box.Label1->font().bold());
        EXPECT_EQ(box.Label8->text(), QString::fromUtf8("\u00AE"));
        EXPECT_EQ(box.Label3->text().count('\n'), 1) << "a two-line notice";
        EXPECT_EQ(box.btnOk->text(), "OK");
        for (QWidget* link : {static_cast<QWidget*>(box.Label4), static_cast<QWidget*>(box.Label5),
                              static_cast<QWidget*>(box.Label6), static_cast<QWidget*>(box.Label7)}) {
            EXPECT_FALSE(link->isVisible()) << link->objectName().toStdString();
        }
    });
}

TEST_F(AboutTest, LinksTurnRedUnderThePointerAndOpenTheVendorsAddresses)
{
    TVendorPin pin("https://vendor.example", "help@vendor.example");
    TUrlCatcher catcher;
    WithAboutBox([&](TfrmAbout& box) {
        ASSERT_TRUE(box.Label5->isVisible());
        ASSERT_TRUE(box.Label7->isVisible());
        EXPECT_EQ(box.Label5->text(), "https://vendor.example");
        EXPECT_EQ(box.Label5->cursor().shape(), Qt::PointingHandCursor);
        const QColor background = box.Label5->palette().color(box.Label5->backgroundRole());
        EXPECT_EQ(TextColour(box.Label5), QColor(Qt::blue));
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(box.Label5, &enter);
        EXPECT_EQ(TextColour(box.Label5), QColor(Qt::red));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(box.Label5, &leave);
        EXPECT_EQ(TextColour(box.Label5), QColor(Qt::blue));
        EXPECT_EQ(box.Label5->palette().color(box.Label5->backgroundRole()), background);
        QTest::mouseClick(box.Label5, Qt::LeftButton);
        // The e-mail link answers the keyboard too.
        box.Label7->setFocus();
        QTest::keyClick(box.Label7, Qt::Key_Space);
    });
    EXPECT_EQ(catcher.urls, QStringList({"https://vendor.example/", "mailto:help@vendor.example"}));
}

TEST_F(AboutTest, WithAVendorSiteTheHelpCommandsOpenItsPages)
{
    TVendorPin pin("https://vendor.example/", "help@vendor.example");
    TUrlCatcher catcher;
    OpenOnlineHelp();
    OpenLearnMore();
    OpenUpdateCheck();
    OpenHomePage();
    EXPECT_EQ(
        catcher.urls,
        QStringList({"https://vendor.example/onlinehelp.php", "https://vendor.example/encryption/dataencryption.php",
                     QString("https://vendor.example/updates.php?ver=") + VX_VERSION, "https://vendor.example/"}));
    EXPECT_EQ(HelpWindow(), nullptr);
    EXPECT_TRUE(TfrmMessage::Answered().empty());
}

TEST_F(AboutTest, WithoutAVendorSiteHelpOpensTheManualAndTheUpdateCheckSaysWhy)
{
    TVendorPin pin({}, {});
    TUrlCatcher catcher;
    ASSERT_FALSE(ManualPath().isEmpty()) << "the manual ships with the program";

    OpenOnlineHelp();
    QWidget* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal());
    auto* manual = FindChecked<QTextBrowser>(help, "tbManual");
    ASSERT_NE(manual, nullptr);
    EXPECT_FALSE(manual->accessibleName().isEmpty());
    const QString text = manual->toPlainText();
    EXPECT_TRUE(text.contains("Shred Files")) << text.left(200).toStdString();
    EXPECT_TRUE(text.contains("What overwriting can and cannot do"));

    OpenLearnMore();
    EXPECT_EQ(HelpWindow(), help) << "one help window, brought forward";
    OpenHomePage();
    EXPECT_EQ(HelpWindow(), help);

    TfrmMessage::SetNextAnswer(kResultOk);
    OpenUpdateCheck();
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgInformation);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);
    EXPECT_TRUE(TfrmMessage::Answered()[0].Text.contains(VX_VERSION));
    EXPECT_TRUE(TfrmMessage::Answered()[0].Text.contains("No update address"));
    EXPECT_TRUE(catcher.urls.isEmpty()) << catcher.urls.join(' ').toStdString();

    help->close();
    EXPECT_TRUE(WaitUntil([] { return HelpWindow() == nullptr; }));
}

#include "test_about.moc"
