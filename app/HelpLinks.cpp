// Where the help commands lead: the vendor's pages when the build names a site, else the manual.
#include "app/HelpLinks.h"

#include "app/Forms.h"
#include "app/aboutU.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#ifndef VX_VENDOR_WEB_SITE
#define VX_VENDOR_WEB_SITE ""
#endif
#ifndef VX_VENDOR_EMAIL
#define VX_VENDOR_EMAIL ""
#endif
#ifndef VX_SOURCE_DOCS_DIR
#define VX_SOURCE_DOCS_DIR ""
#endif

namespace {
constexpr const char* kManualName = "manual.html";

QPointer<QDialog>& HelpWindowPointer()
{
    static QPointer<QDialog> window;
    return window;
}

// Shows the manual at an anchor ("" for its start), in one window that stays until it is closed.
void ShowManual(const QString& anchor)
{
    QPointer<QDialog>& window = HelpWindowPointer();
    if (window == nullptr) {
        window = new QDialog(frmMain);
        window->setObjectName("frmHelp");
        window->setWindowTitle("    Vellumox Help");
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setModal(false);
        auto* browser = new QTextBrowser(window);
        browser->setObjectName("tbManual");
        browser->setAccessibleName("Manual");
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        buttons->setObjectName("bbHelp");
        buttons->button(QDialogButtonBox::Close)->setObjectName("btnClose");
        buttons->button(QDialogButtonBox::Close)->setAccessibleName("Close");
        QObject::connect(buttons, &QDialogButtonBox::rejected, window.data(), &QDialog::close);
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(browser);
        layout->addWidget(buttons);
        window->resize(640, 560);
        const QString path = ManualPath();
        if (path.isEmpty()) {
            browser->setPlainText(QString("The manual (%1) was not found beside the program.").arg(kManualName));
        } else {
            browser->setSource(QUrl::fromLocalFile(path));
        }
    }
    auto* browser = window->findChild<QTextBrowser*>("tbManual");
    if (!anchor.isEmpty()) {
        browser->scrollToAnchor(anchor);
    } else {
        browser->scrollToAnchor("top");
    }
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

TVendorAddresses& VendorAddresses()
{
    static TVendorAddresses addresses{VX_VENDOR_WEB_SITE, VX_VENDOR_EMAIL};
    return addresses;
}

QString VendorPage(const QString& path)
{
    QString site = VendorAddresses().webSite.trimmed();
    if (site.isEmpty()) {
        return {};
    }
    while (site.endsWith('/')) {
        site.chop(1);
    }
    return path.isEmpty() ? site + "/" : site + path;
}

QString ManualPath()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates{
        programDir + "/../share/vellumox/" + kManualName, // installed: bin/ beside share/
        programDir + "/docs/" + kManualName,              // unpacked beside the program
        programDir + "/" + kManualName,
        QString(VX_SOURCE_DOCS_DIR) + "/" + kManualName, // a build tree
    };
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile()) {
            return info.canonicalFilePath();
        }
    }
    return {};
}

QWidget* HelpWindow()
{
    return HelpWindowPointer().data();
}

void OpenOnlineHelp()
{
    const QString page = VendorPage("/onlinehelp.php");
    if (page.isEmpty()) {
        ShowManual({});
        return;
    }
    ShellOpen(page);
}

void OpenLearnMore()
{
    const QString page = VendorPage("/encryption/dataencryption.php");
    if (page.isEmpty()) {
        ShowManual("encryption");
        return;
    }
    ShellOpen(page);
}

void OpenUpdateCheck()
{
    const QString page = VendorPage("/updates.php?ver=");
    if (page.isEmpty()) {
        ShowMsg(QString("This is Vellumox version %1. No update address is configured in this build, so "
                        "there is nowhere to look for a newer version.")
                    .arg(ProgramVersion()),
                kMsgInformation, kButtonsOk);
        return;
    }
    ShellOpen(page + ProgramVersion());
}

void OpenHomePage()
{
    const QString page = VendorPage({});
    if (page.isEmpty()) {
        ShowManual({});
        return;
    }
    ShellOpen(page);
}

void ShowAboutBox(QWidget* owner)
{
    if (frmAbout != nullptr) {
        frmAbout->raise();
        frmAbout->activateWindow();
        return;
    }
    // Freed as soon as it closes, so the next "About" builds a fresh one; the guard notices an
    // owner that took the box with it.
    QPointer<TfrmAbout> box = new TfrmAbout(owner);
    box->exec();
    delete box.data();
}

const char* ProgramVersion()
{
    return VX_VERSION;
}
