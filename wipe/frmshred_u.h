// The shred window TfrmShred: the progress of a shred run, with its Cancel button.
#pragma once

#include "wipe/funkcije_u.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// Receives the wiping methods' progress for as long as it exists (their pass label also during an
// encryption run's wipe, while the window is hidden).
class TfrmShred final : public QDialog, public TWipeProgress
{
    Q_OBJECT
public:
    explicit TfrmShred(QWidget* parent = nullptr);
    ~TfrmShred() override;

    QLabel* labFolder = nullptr;
    QLabel* labTitle = nullptr;
    QLabel* labProcessed = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* labMetod = nullptr;
    QPushButton* btnCancel = nullptr;

    void btnCancelClick();

    void MethodLabel(const std::string& text) override;
    void BarStart(std::int64_t maximum) override;
    void BarPosition(std::int64_t position) override;

protected:
    // Escape and close requests mean Cancel during a run: the window closes only when its run ends.
    void reject() override;
};
