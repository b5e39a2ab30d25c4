// The operation dialog TfrmPass: password entry, the encryption and decryption runs and their progress.
#pragma once

#include "encryption/Runs.h"
#include "platform/Files.h"

#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// A progress bar counts in int; a file can be far larger. Counts that fit are shown as they are,
// larger ones are divided down so that the bar still runs from 0 to 100 %.
struct TBarRange
{
    int Position = 0;
    int Maximum = 0;
};
TBarRange ScaleBar(std::int64_t position, std::int64_t maximum);

// Overwrites a password's characters before they are released. The string must own its buffer
// alone (a shared one would only have a copy wiped); it is left empty.
void WipeText(QString& text);

class TfrmPass final : public QDialog, private TRunView
{
    Q_OBJECT
public:
    explicit TfrmPass(QWidget* parent = nullptr);
    ~TfrmPass() override;

    enum class TState
    {
        Ready,
        Running,
        Done
    };

    // Set by the main window before each showing.
    bool DecryptMode = false;
    // Full paths of the files to process, filled by the main window before each showing.
    std::vector<std::string> WorkList;
    // The two password texts remembered from the last closing in encryption mode. Each owns its
    // buffer, so that the wipe when it is replaced and at the end reaches the only copy.
    QString SavedPass1;
    QString SavedPass2;

    QGroupBox* gb0 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edPass1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edPass2 = nullptr;
    QGroupBox* gb = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* labAlg = nullptr;
    QLabel* labProcessed = nullptr;
    QLabel* Label4 = nullptr;
    QProgressBar* pgTotal = nullptr;
    QLabel* labCurrent = nullptr;
    QProgressBar* pgCurrent = nullptr;
    QPushButton* btnEncrypt = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnOk = nullptr;
    // Shown in btnCancel's place while a run goes on: ends the run after the current file.
    QPushButton* btnStop = nullptr;

    TState State() const { return m_state; }
    // The skip lists and the ciphers of the last run.
    const TFileRun& FileRun() const { return m_run; }

    void FormShow();
    bool FormCloseQuery() const;
    void FormClose();
    void btnEncryptClick();
    void btnOkClick();
    void btnCancelClick();
    void btnStopClick();

    void RunEncryption();
    void RunDecryption();
    // The source action chosen in the main window, applied to a source whose complete output is
    // at outputPath.
    void ApplySourceAction(const std::string& path, const std::string& outputPath);
    static QDateTime FileTimeToDate(const TFileTime& fileTime);

    // The cipher objects' progress: each sets pgCurrent to the bytes done of the current file and
    // lets the windows repaint.
    void VX_blowfish1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_twofish1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_cast2561Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_ice1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_mars1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_misty11Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_rc21Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_rc41Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_rc61Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_rijndael1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_tea1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_serpent1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);
    void VX_3des1Progress(const void* Sender, std::int64_t mSize, std::int64_t totalSize);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // TRunView: what the runs show.
    void CurrentLabel(const std::string& text) override;
    void ProcessedLabel(const std::string& text) override;
    void TotalBar(std::int64_t position, std::int64_t maximum) override;
    void CurrentBar(std::int64_t position, std::int64_t maximum) override;
    void LogLine(const std::string& text, int image) override;
    void Refresh() override;
    void FinalMessage(const std::string& text) override;
    void PumpMessages() override;
    void FileSkipped(const std::string& path, const std::string& reason) override;
    void FileNote(const std::string& path, const std::string& note) override;
    bool StopAfterCurrentFile() override;
    bool OwnsCipherProgress() const override { return true; }

    void CipherProgress(std::int64_t done);
    int SelectedAlgorithm() const;
    TSourceAction SelectedSourceAction() const;
    void Run(bool decrypting);
    void EnterRunning();
    void EnterDone();
    void SetPasswordEcho();

    TFileRun m_run;
    TState m_state = TState::Ready;
    std::int64_t m_currentMaximum = 0;
    QElapsedTimer m_barClock;
    int m_shownPixel = -1;
    int m_shownPercent = -1;
    bool m_stopRequested = false;
    std::size_t m_filesStarted = 0;
};
