// The shred window TfrmShred: the progress of a shred run, with its Cancel button.
#pragma once

#include <QDialog>

class TfrmShred final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmShred(QWidget* parent = nullptr);
};
