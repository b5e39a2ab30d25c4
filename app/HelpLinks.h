// The help commands: online help, background reading, the update check, the home page, the about box.
#pragma once

#include <QString>

class QWidget;

// With a vendor web site configured these open its pages in the desktop's browser; without one,
// help and background reading open the manual that ships with the program, and the update check
// says which version this is.
void OpenOnlineHelp();
void OpenLearnMore();
void OpenUpdateCheck();
void OpenHomePage();
// Creates the about box on demand, shows it modally over owner, and frees it when it closes.
void ShowAboutBox(QWidget* owner);
// The program's version, compiled in from the build (e.g. "1.5.0.103").
const char* ProgramVersion();

// The vendor's addresses, set when the build is configured (empty when none is); tests replace them.
struct TVendorAddresses
{
    QString webSite; // e.g. "https://example.org", without a path
    QString email;
};
TVendorAddresses& VendorAddresses();

// The address of a page on the vendor's site ("" for the home page, "/onlinehelp.php", ...);
// empty when no site is configured.
QString VendorPage(const QString& path);

// The user manual installed with the program (or, in a build tree, the one in the sources); empty
// when none is found.
QString ManualPath();
// The window that shows the manual, while it is open (objectName "frmHelp").
QWidget* HelpWindow();
