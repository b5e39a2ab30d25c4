// The shred run over a selection, with its window, and the permanent delete run.
#include "wipe/ShredRuns.h"

void ConfirmAndShred(const std::vector<std::string>& selection)
{
    (void)selection;
}

void ConfirmAndDelete(const std::vector<std::string>& selection)
{
    (void)selection;
}

void ShredSelection(const std::vector<std::string>& selection)
{
    (void)selection;
}

void DeleteSelection(const std::vector<std::string>& selection)
{
    (void)selection;
}

bool ShredRunning()
{
    return false;
}
