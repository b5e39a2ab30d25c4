// The main window TfrmMain: the file browser, its commands, the message log and the two choices.
#pragma once

#include <QGroupBox>
#include <QMainWindow>
#include <QStringList>

#include <string>
#include <vector>

class QButtonGroup;
class QComboBox;
class TMessageLog;

// A titled group of radio buttons addressed by index, like the source file action.
class TRadioGroup final : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr);
    int ItemIndex() const;
    void SetItemIndex(int index);

private:
    QButtonGroup* m_buttons = nullptr;
};

class TfrmMain final : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    TMessageLog* LVMessages = nullptr;
    QComboBox* cmbAlgorithm = nullptr;
    TRadioGroup* rdSource = nullptr;

    // Re-reads the shown folders, keeping expanded folders, selection and scroll position. The runs
    // call it when they end.
    void bRefreshClick();

    // The shred run tells when it starts and ends: while it runs, commands that change files are
    // disabled.
    void ShredRunStateChanged(bool running);
};
