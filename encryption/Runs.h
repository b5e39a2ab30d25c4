// The encryption and decryption runs over a work list, the source actions and folder expansion.
#pragma once

#include "encryption/FileFormat.h"
#include "platform/FileRef.h"

#include <cstdint>
#include <stdexcept>
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
    // With Leave, an existing file under the output's name is replaced once the new output is
    // complete; when false such a file is kept and the source skipped (OutputExistsList).
    bool ReplaceExisting = true;
    // An error at one file skips that file (FailedList, with its reason) and the run goes on;
    // when false the error ends the run there.
    bool ContinueAfterError = false;
    // How many files are worked on at once: 1 is the serial run, in the list's order; 0 is one per
    // core. Whatever the number, the skip lists, the skip reports and the summary come out in the
    // list's order. A view that owns the cipher progress is run serially.
    unsigned Jobs = 1;
};

// Raised out of a run that its view asked to stop: the current file's partial output is removed
// and its source untouched; the end-of-run steps have run.
class ERunStopped : public std::runtime_error
{
public:
    ERunStopped() : std::runtime_error("The run was stopped.") {}
};

// What a run shows: the operation dialog implements it with its labels, bars, the message log and
// the message box; the command-line tool with its terminal. Every call may be ignored. A run that
// works on several files at once calls it from its worker threads as well, but one call at a time,
// and shows the progress of the earliest unfinished file of the list only, so that a view sees the
// run as a serial one; skips and notes reach it in the list's order.
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
    // The output of the file in hand is being read back and checked against its source (Verify).
    virtual void VerifyingFile(const std::string& path) { (void)path; }
    // Something worth telling about a processed file (an older header form, a hard link).
    virtual void FileNote(const std::string& path, const std::string& note)
    {
        (void)path;
        (void)note;
    }
    // Asked between files and after every chunk; true stops the run at once (ERunStopped): the file
    // in progress loses its partial output and keeps its source. A source action that has begun is
    // finished first. For interrupts.
    virtual bool StopRequested() { return false; }
    // Asked once before each file: true ends the run there, as if the work list ended before that
    // file, so a file is always either fully processed (source action included) or untouched.
    virtual bool StopAfterCurrentFile() { return false; }
    // True when the view has put its own progress handlers on the run's ciphers (TFileRun::Ciphers):
    // the run then leaves them in place instead of sending cipher progress to CurrentBar and
    // PumpMessages itself.
    virtual bool OwnsCipherProgress() const { return false; }
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
    // Files whose header has the marker but names no algorithm or is cut short (decryption).
    std::vector<std::string> DamagedList;
    // Sources skipped because their output's name is taken (ReplaceExisting off).
    std::vector<std::string> OutputExistsList;
    // Files skipped after an error (ContinueAfterError on).
    std::vector<std::string> FailedList;
    // The admitted file behind each entry of WorkList, where there is one (an entry without a
    // folder, or beyond the end, is found again by its path when its turn comes). A file listed
    // from a folder is worked on through the folder it was listed in: a folder swapped for a link
    // since the listing cannot send the run outside the tree. AddFile and AddFolder keep the two
    // lists in step.
    std::vector<TFileRef> WorkRefs;

    void AddFile(const std::string& path);
    // Every regular file below folder, as ExpandFolder lists them, each with its anchor. Returns
    // the folders that could not be listed.
    std::vector<std::string> AddFolder(const std::string& folder);

    // Both run to the end of WorkList; an error that stops the run at a file is raised after the
    // end-of-run steps, with that file's partial output removed and its source untouched.
    void RunEncryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view);
    void RunDecryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view);

    TCipherSet& Ciphers() { return m_ciphers; }

private:
    template <class TPerFile>
    void Run(bool encrypting, unsigned jobs, TRunView& view, TPerFile perFile);
    template <class TPerFile>
    void RunSerial(bool encrypting, TRunView& view, TPerFile perFile);
    template <class TPerFile>
    void RunParallel(bool encrypting, unsigned jobs, TRunView& view, TPerFile perFile);
    void ClearLists();
    bool Admit(const TFileRef& file, TRunView& view);
    void EncryptOne(const TFileRef& file, const TPasswordKey& password, const TRunOptions& options,
                    TRunView& view, TCipherSet& ciphers);
    void DecryptOne(const TFileRef& file, const TPasswordKey& password, const TRunOptions& options,
                    TRunView& view, TCipherSet& ciphers);
    void EndOfRun(bool encrypting, TRunView& view);

    TCipherSet m_ciphers;
    bool m_continueAfterError = false;
};

// Puts the complete, flushed output in the source's place as the source action says: Delete
// replaces the source with one rename; Shred wipes the source (DoD, once, on the operation
// dialog) and then renames the output. Leave does nothing.
void ApplySourceAction(TSourceAction action, const std::string& source, const std::string& output);
// The same on an admitted source, with the output named in the source's folder: the wipe, the
// rename and the flushes all go through that open folder.
void ApplySourceAction(TSourceAction action, const TFileRef& source, const std::string& outputName);

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
