// The shred and delete runs of the main window's selection, with their confirmations.
#pragma once

#include <cstdint>
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

// The selected items that are not folders, as the last shred run counted them.
extern std::int32_t SelectedFileCount;

// The shred question for a selection: the fixed question, then a sentence when some item lies where
// overwriting cannot reach the old data, then the files whose data other hard links keep.
std::string ShredQuestion(const std::vector<std::string>& selection);
