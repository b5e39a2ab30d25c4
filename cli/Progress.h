// What a run shows on the terminal: the progress line's layout, the words of the end-of-run summary,
// and the run view that turns a run's calls into both.
#pragma once

#include "encryption/Runs.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// Columns the text takes on a terminal: wide characters count two, combining marks none, and
// anything a terminal would act on (control characters, bytes that are no UTF-8) one, as the '?'
// that TerminalSafe puts in their place.
int DisplayColumns(std::string_view utf8);
// The text with control characters, direction overrides and bytes that are no UTF-8 replaced by
// '?': a file name must not move the cursor, end the line or send commands to the terminal.
std::string TerminalSafe(std::string_view utf8);
// TerminalSafe(utf8) in at most `columns` columns; a longer text loses its middle ("long…name.txt"),
// keeping the end where the extension is.
std::string ShortenMiddle(std::string_view utf8, int columns);

// What the progress line shows at one moment.
struct TProgressState
{
    // "encrypting", "verifying", "pass 2/3" ...
    std::string Stage;
    std::uint64_t DoneBytes = 0;
    std::uint64_t TotalBytes = 0;
    std::uint64_t FilesDone = 0;
    std::uint64_t Files = 0;
    // The current file's name, as it is on the disk.
    std::string Name;
    // 0 while unknown.
    double BytesPerSecond = 0;
};

// The progress line in at most `columns` columns. Which parts are shown depends on the width only,
// so the line does not jump from file to file: the name takes what is left, and on a narrow
// terminal the rate, the counts, the bar and the stage give way in that order.
std::string ProgressLineText(const TProgressState& state, int columns);

// "4,957".
std::string GroupedNumber(std::uint64_t value);
// Decimal units, three digits: "512 bytes", "1.23 kB", "437 MB".
std::string SizeText(std::uint64_t bytes);
// "48.8 s", "2:05 min", "1:02:03 h".
std::string DurationText(double seconds);
// "1 file", "4,957 files".
std::string FilesText(std::uint64_t count);

struct TRunSummary
{
    // "Encrypted", "Decrypted and verified", "Shredded".
    std::string Done;
    std::uint64_t Files = 0;
    std::uint64_t Bytes = 0;
    double Seconds = 0;
    // Reason and count, in the order they are to be shown; counts of 0 are left out.
    std::vector<std::pair<std::string, std::uint64_t>> Skipped;
};

// "Encrypted 4,957 files (437 MB) in 48.8 s", then a line "3 skipped: wrong password" for each
// reason. Every line ends with a line end.
std::string SummaryText(const TRunSummary& summary);

// Where a run's progress and messages go: the terminal's progress line, or a test's record.
class TProgressSink
{
public:
    virtual ~TProgressSink() = default;
    virtual void Show(const TProgressState& state) = 0;
    // A line of its own on standard error, drawn clear of the progress line.
    virtual void Message(const std::string& text) = 0;
};

// The command line's view of an encryption or decryption run: one overall bar by bytes across the
// whole work list, the stage of the file in hand, the skipped files and notes as they happen, and
// the processed files and bytes for the summary. The run's own end-of-run lines are the window's
// words and are left to it.
//
// Calls about one file are expected from the thread that works on it, so that files worked on at
// once keep apart; every call takes the view's lock.
class TCliRunView : public TRunView
{
public:
    // sizes: the size of each file of the work list, by its path, as listed before the run.
    // verbose: skips that are no failure ("already encrypted", "not encrypted") are named too.
    TCliRunView(TProgressSink& sink, bool encrypting, std::map<std::string, std::uint64_t> sizes, bool verbose);

    void CurrentLabel(const std::string& text) override;
    void TotalBar(std::int64_t position, std::int64_t maximum) override;
    void CurrentBar(std::int64_t position, std::int64_t maximum) override;
    void VerifyingFile(const std::string& path) override;
    void FileSkipped(const std::string& path, const std::string& reason) override;
    void FileNote(const std::string& path, const std::string& note) override;

    // A path skipped before the run began (a folder without -r, a path that cannot be opened).
    void PathSkipped(const std::string& path, const std::string& reason);
    // The run's work list. With it a finished file is known by its place in the list, so that a run
    // over several files at once, which reports a file's end from another thread than its start,
    // counts every file and byte.
    void SetWorkList(std::vector<std::string> paths);

    std::uint64_t FilesProcessed() const;
    std::uint64_t BytesProcessed() const;
    std::uint64_t FilesDone() const;
    double Seconds() const;

private:
    enum class TStage
    {
        Ciphering,
        Verifying,
        Wiping,
    };
    struct TFileState
    {
        std::string Name;
        TStage Stage = TStage::Ciphering;
        std::uint64_t Size = 0;
        std::uint64_t Position = 0;
        bool Sized = false;
        bool Skipped = false;
    };

    TFileState* Current();
    void Draw();

    mutable std::mutex m_mutex;
    TProgressSink& m_sink;
    const bool m_encrypting;
    const bool m_verbose;
    const std::map<std::string, std::uint64_t> m_sizes;
    std::uint64_t m_totalBytes = 0;
    std::uint64_t m_files = 0;
    std::uint64_t m_filesDone = 0;
    std::uint64_t m_finishedBytes = 0;
    std::uint64_t m_filesProcessed = 0;
    std::uint64_t m_bytesProcessed = 0;
    std::map<std::thread::id, TFileState> m_inHand;
    std::vector<std::string> m_workList;
    std::set<std::string> m_skippedPaths;
    // How many files of the work list have been counted as done.
    std::size_t m_listCounted = 0;
    // The file shown: the one begun last.
    std::thread::id m_shown;
    const std::chrono::steady_clock::time_point m_start;
};
