// The shred and delete runs of the main window's selection, with their confirmations.
#pragma once

#include <string>
#include <vector>

// selection: the selected paths in the tree's order with the focused item first; the runs walk it
// from the last entry to the first. Each asks its question first and does nothing on No.
void ConfirmAndShred(const std::vector<std::string>& selection);
void ConfirmAndDelete(const std::vector<std::string>& selection);

// The runs themselves, without the question.
void ShredSelection(const std::vector<std::string>& selection);
void DeleteSelection(const std::vector<std::string>& selection);

// True while a shred run goes on (its window is not modal).
bool ShredRunning();
