#pragma once

#include "encryption/FileFormat.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TSourceAction
{
    Leave = 0,
    Delete = 1,
    Shred = 2,
};

// Read when a run starts; the window's choices or the command line's options.
struct TRunOptions
{
    int AlgorithmIndex = 0;
    TSourceAction SourceAction = TSourceAction::Leave;
    bool KeepDate = false;
    bool MarkHidden = false;
    // Read every output back and check it against its source before the source action.
    bool Verify = false;
};

// What a run shows: the operation dialog implements it with its labels, bars, the message log and
// the message box; the command-line tool with its terminal. Every call may be ignored.
class TRunView
{
public:
    virtual ~TRunView() = default;
    virtual void CurrentLabel(const std::string& text) { (void)text; }
    virtual void ProcessedLabel(const std::string& text) { (void)text; }
    virtual void TotalBar(std::int64_t position, std::int64_t maximum)
    {
        (void)position;
        (void)maximum;
    }
    virtual void CurrentBar(std::int64_t position, std::int64_t maximum)
    {
        (void)position;
        (void)maximum;
    }
    // image: 0 information, 1 warning.
    virtual void LogLine(const std::string& text, int image)
    {
        (void)text;
        (void)image;
    }
    virtual void Refresh() {}
    // An information box with the OK button.
    virtual void FinalMessage(const std::string& text) { (void)text; }
    // Lets the windows repaint; called after every chunk, so it should be cheap or throttled.
    virtual void PumpMessages() {}
    // Which file was skipped and why, for views that name them (the command line).
    virtual void FileSkipped(const std::string& path, const std::string& reason)
    {
        (void)path;
        (void)reason;
    }
    // Something worth telling about a processed file (an older header form, a hard link).
    virtual void FileNote(const std::string& path, const std::string& note)
    {
        (void)path;
        (void)note;
    }
};

inline constexpr const char* kCheckLogMessage = "Check message log for errors.";

// The encryption and decryption runs over a work list, as the operation dialog drives them.
class TFileRun
{
public:
    std::vector<std::string> WorkList;
    std::vector<std::string> InUseList;
    std::vector<std::string> BadPasswordList;
    std::vector<std::string> AlreadyDoneList;
    // Links, folders, FIFOs, devices and sockets in the work list: never opened through.
    std::vector<std::string> UnsupportedList;

    // Both run to the end of WorkList; an error that stops the run at a file is raised after the
    // end-of-run steps, with that file's partial output removed and its source untouched.
    void RunEncryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view);
    void RunDecryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view);

    TCipherSet& Ciphers() { return m_ciphers; }

private:
    template <class TPerFile>
    void Run(bool encrypting, TRunView& view, TPerFile perFile);
    bool Admit(const std::string& path, TRunView& view);
    void EncryptOne(const std::string& path, const TPasswordKey& password, const TRunOptions& options,
                    TRunView& view);
    void DecryptOne(const std::string& path, const TPasswordKey& password, const TRunOptions& options,
                    TRunView& view);
    void EndOfRun(bool encrypting, TRunView& view);

    TCipherSet m_ciphers;
};

// Puts the complete, flushed output in the source's place as the source action says: Delete
// replaces the source with one rename; Shred wipes the source (DoD, once, on the operation
// dialog) and then renames the output. Leave does nothing.
void ApplySourceAction(TSourceAction action, const std::string& source, const std::string& output);

// Every regular file below a folder at any depth, hidden ones included, in the order the walk
// meets them; links are not followed and neither they nor FIFOs, devices and sockets are listed,
// nor the folders' hidden-name lists. Folders that cannot be read are passed over.
std::vector<std::string> ExpandFolder(const std::string& folder);

// Reads the output back and checks it against its source through the cipher again: a decryption
// of an encrypted output must give the source, an encryption of a decrypted output must give the
// source's body. Raises std::runtime_error naming the file on any difference.
void VerifyEncryption(const std::string& source, const std::string& output, const TPasswordKey& password,
                      int algorithmIndex, TCipherSet& ciphers);
void VerifyDecryption(const std::string& source, const std::string& output, std::string_view keyBytes,
                      int algorithmIndex, TCipherSet& ciphers);
