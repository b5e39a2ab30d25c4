// The help commands: online help, background reading, the update check, the home page, the about box.
#pragma once

class QWidget;

void OpenOnlineHelp();
void OpenLearnMore();
void OpenUpdateCheck();
void OpenHomePage();
// Creates the about box on demand, shows it modally over owner, and frees it when it closes.
void ShowAboutBox(QWidget* owner);
// The program's version, compiled in from the build (e.g. "1.5.0.103").
const char* ProgramVersion();
