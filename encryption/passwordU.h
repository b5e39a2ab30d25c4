// The operation dialog TfrmPass: password entry, the encryption and decryption runs and their progress.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class TfrmPass final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPass(QWidget* parent = nullptr);

    // Set by the main window before each showing.
    bool DecryptMode = false;
    // Full paths of the files to process, filled by the main window before each showing.
    std::vector<std::string> WorkList;
};
