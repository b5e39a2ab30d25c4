// Where the help commands lead.
#include "app/HelpLinks.h"

void OpenOnlineHelp() {}
void OpenLearnMore() {}
void OpenUpdateCheck() {}
void OpenHomePage() {}
void ShowAboutBox(QWidget* owner)
{
    (void)owner;
}

const char* ProgramVersion()
{
    return VX_VERSION;
}
