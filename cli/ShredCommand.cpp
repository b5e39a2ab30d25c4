// The shred command: the shred run of the command-line tool.
#include "cli/ShredCommand.h"

#include "cli/CliCommon.h"
#include "cli/Progress.h"
#include "cli/Terminal.h"
#include "platform/Files.h"
#include "wipe/funkcije_u.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <csignal>
#include <exception>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
constexpr const char* kUsage =
    "usage: vellumox-cli shred [--method 0-4] [--repeat N] [-r] [-y] PATH...\n"
    "  --method N  0 simple one pass, 1 simple two pass, 2 DoD 5220-22M (default),\n"
    "              3 military standard (8 passes), 4 Gutmann (35 passes)\n"
    "  --repeat N  how often the method runs its passes (default 1; Gutmann always runs once)\n"
    "  -r          shred folders: every file below them, then the emptied folders\n"
    "  -y          shred without asking\n";

struct TOptions
{
    std::int32_t method = 2;
    std::int32_t repeat = 1;
    bool recursive = false;
    bool yes = false;
    // Only errors: no progress, no summary.
    bool Quiet = false;
    std::vector<std::string> paths;
};

bool ParseNumber(const std::string& text, long long low, long long high, std::int32_t& out)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return false;
    }
    const long long value = std::stoll(text);
    if (value < low || value > high) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

// Returns an error message, or nothing when the words make a valid command.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, TOptions& options, bool& help)
{
    try {
        TArgReader reader(args);
        while (const auto next = reader.NextOption()) {
            const std::string& option = *next;
            if (option == "-h" || option == "--help") {
                help = true;
            } else if (option == "--method") {
                const std::string value = reader.Value(option);
                if (!ParseNumber(value, 0, 4, options.method)) {
                    return "--method takes 0 to 4, not \"" + value + "\"";
                }
            } else if (option == "--repeat") {
                const std::string value = reader.Value(option);
                // A count of 0 would write nothing and still delete the file as if shredded.
                if (!ParseNumber(value, 1, INT32_MAX, options.repeat)) {
                    return "--repeat takes a whole number from 1, not \"" + value + "\"";
                }
            } else if (option == "-r") {
                options.recursive = true;
            } else if (option == "-y") {
                options.yes = true;
            } else if (option == "-q" || option == "--quiet") {
                options.Quiet = true;
            } else {
                return "unknown option " + option;
            }
        }
        options.paths = reader.Operands();
    } catch (const EUsage& e) {
        return e.what();
    }
    if (!help && options.paths.empty()) {
        return "no file or folder given";
    }
    return std::nullopt;
}

// "dir/" and "dir" are the same folder to a user; the root stays "/".
std::string WithoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && (path.back() == '/'
#ifdef _WIN32
                               || path.back() == '\\'
#endif
                               )) {
        path.pop_back();
    }
    return path;
}

// True when path is folder itself or lies below it.
bool IsWithin(const std::string& path, const std::string& folder)
{
    if (path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    if (path.size() == folder.size()) {
        return true;
    }
    const char next = path[folder.size()];
#ifdef _WIN32
    return next == '/' || next == '\\';
#else
    return next == '/';
#endif
}

bool IsYes(std::string answer)
{
    answer.erase(0, answer.find_first_not_of(" \t"));
    answer.erase(answer.find_last_not_of(" \t") + 1);
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

// How many passes the method writes over each file.
std::uint64_t PassesPerFile(std::int32_t method, std::int32_t repeat)
{
    static constexpr std::uint64_t kPasses[] = {1, 2, 3, 8, 35};
    const auto index = static_cast<std::size_t>(std::clamp(method, 0, 4));
    return index == 4 ? kPasses[index] : kPasses[index] * static_cast<std::uint64_t>(std::max(repeat, 1));
}

// The wipes' passes as one overall bar by bytes written across every file of the run. Calls about
// one file come from the thread that shreds it.
class TCliProgress final : public TWipeProgress
{
public:
    TCliProgress(TProgressSink& sink, std::uint64_t passes) : m_sink(sink), m_passes(passes) {}

    // What the run will write: known before it starts, so that the bar means the whole run.
    void SetTotal(std::uint64_t files, std::uint64_t bytes)
    {
        const std::lock_guard lock(m_mutex);
        m_files = files;
        m_totalBytes = bytes;
    }
    void FileBegins(const std::string& name, std::uint64_t size)
    {
        const std::lock_guard lock(m_mutex);
        m_inHand[std::this_thread::get_id()] = TFileState{name, size, 0, 0};
        m_shown = std::this_thread::get_id();
    }
    void FileEnds()
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_inHand.find(std::this_thread::get_id());
        if (it != m_inHand.end()) {
            m_finishedBytes += it->second.size * m_passes;
            ++m_filesDone;
            m_inHand.erase(it);
        }
    }
    void BarStart(std::int64_t maximum) override
    {
        (void)maximum;
        const std::lock_guard lock(m_mutex);
        if (TFileState* file = Current()) {
            ++file->pass;
            file->written = 0;
            Draw();
        }
    }
    void BarPosition(std::int64_t position) override
    {
        const std::lock_guard lock(m_mutex);
        if (TFileState* file = Current()) {
            // The shred window's bar counts kilobytes.
            file->written =
                std::min(file->size, static_cast<std::uint64_t>(std::max<std::int64_t>(position, 0)) * 1024);
            Draw();
        }
    }

private:
    struct TFileState
    {
        std::string name;
        std::uint64_t size = 0;
        std::uint64_t pass = 0;
        std::uint64_t written = 0;
    };

    TFileState* Current()
    {
        const auto it = m_inHand.find(std::this_thread::get_id());
        return it == m_inHand.end() ? nullptr : &it->second;
    }

    void Draw()
    {
        auto shown = m_inHand.find(m_shown);
        if (shown == m_inHand.end()) {
            shown = m_inHand.begin();
        }
        if (shown == m_inHand.end() || shown->second.pass == 0) {
            return;
        }
        TProgressState state;
        state.Stage = "pass " + std::to_string(shown->second.pass) + "/" + std::to_string(m_passes);
        state.Name = shown->second.name;
        state.DoneBytes = m_finishedBytes;
        for (const auto& [thread, file] : m_inHand) {
            state.DoneBytes += (file.pass > 0 ? (file.pass - 1) * file.size : 0) + file.written;
        }
        state.TotalBytes = m_totalBytes * m_passes;
        state.FilesDone = m_filesDone;
        state.Files = m_files;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        if (seconds >= 1) {
            state.BytesPerSecond = static_cast<double>(state.DoneBytes) / seconds;
        }
        m_sink.Show(state);
    }

    std::mutex m_mutex;
    TProgressSink& m_sink;
    const std::uint64_t m_passes;
    std::uint64_t m_files = 0;
    std::uint64_t m_totalBytes = 0;
    std::uint64_t m_filesDone = 0;
    std::uint64_t m_finishedBytes = 0;
    std::map<std::thread::id, TFileState> m_inHand;
    std::thread::id m_shown;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Why an item was not shredded, for the summary's counts.
enum class TShredSkip
{
    Failed,
    CannotOpen,
    FolderWithoutR,
    NotRegular,
    Unlistable,
    VolumeRoot,
};

class TShredRun
{
public:
    TShredRun(bool recursive, bool quiet, std::uint64_t passes)
        : m_recursive(recursive), m_quiet(quiet), m_line(!quiet), m_progress(m_line, passes)
    {
        SetWipeProgress(TWipeTarget::ShredWindow, &m_progress);
    }
    ~TShredRun() { SetWipeProgress(TWipeTarget::ShredWindow, nullptr); }
    TShredRun(const TShredRun&) = delete;
    TShredRun& operator=(const TShredRun&) = delete;

    // Only when the bar is drawn: the files and bytes below the given paths, listed once more.
    void CountAhead(const std::vector<std::string>& paths)
    {
        if (m_quiet || !StderrIsTerminal()) {
            return;
        }
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
        const auto add = [&files, &bytes](const auto& entry) {
            if (entry && entry->kind == TEntryKind::File) {
                ++files;
                bytes += entry->size;
            }
        };
        for (const std::string& path : paths) {
            // Only for the bar: what cannot be counted is reported when its turn comes.
            try {
                if (!IsDirectory(path)) {
                    add(FindEntry(path));
                } else if (m_recursive && !IsVolumeRoot(path)) {
                    const TTreeListing tree = ListTree(path);
                    for (const TFileRef& file : tree.fileRefs) {
                        add(file.folder->Find(file.name));
                    }
                }
            } catch (const std::exception&) {
            }
        }
        m_progress.SetTotal(files, bytes);
    }

    void Item(const std::string& path)
    {
        if (ShredCancelled) {
            ++m_untouched;
            return;
        }
        if (!IsDirectory(path)) {
            try {
                File(AnchorPath(path));
            } catch (const EFileError& e) {
                Fail(TShredSkip::CannotOpen, e.what());
            }
        } else if (!m_recursive) {
            Fail(TShredSkip::FolderWithoutR, "\"" + path + "\" is a folder (use -r to shred folders)");
        } else {
            Folder(path);
        }
    }

    int Finish()
    {
        m_line.Clear();
        if (ShredCancelled) {
            std::cerr << "Cancelled.";
            if (m_kept) {
                std::cerr << " \"" << TerminalText(*m_kept) << "\" was kept, partly overwritten.";
            }
            if (m_untouched > 0) {
                std::cerr << ' ' << GroupedNumber(m_untouched)
                          << (m_untouched == 1 ? " later item was" : " later items were") << " not touched.";
            }
            std::cerr << '\n';
        }
        if (!m_quiet) {
            TRunSummary summary;
            summary.Done = "Shredded";
            summary.Files = m_shredded;
            summary.Bytes = m_shreddedBytes;
            summary.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
            summary.Skipped = {
                {"failed", m_skipped[TShredSkip::Failed]},
                {"cannot be opened", m_skipped[TShredSkip::CannotOpen]},
                {"folder (use -r)", m_skipped[TShredSkip::FolderWithoutR]},
                {"not a regular file", m_skipped[TShredSkip::NotRegular]},
                {"folder cannot be listed", m_skipped[TShredSkip::Unlistable]},
                {"root of a mounted volume", m_skipped[TShredSkip::VolumeRoot]},
            };
            std::cerr << SummaryText(summary) << std::flush;
        }
        if (ShredCancelled) {
            return StopSignal() != 0 ? 128 + StopSignal() : kExitError;
        }
        return m_failed ? 1 : 0;
    }

private:
    bool File(const TFileRef& file)
    {
        const std::string path = file.Path();
        const auto entry = file.folder->Find(file.name);
        const std::uint64_t names = entry && entry->kind == TEntryKind::File ? entry->links : 1;
        const std::uint64_t size = entry && entry->kind == TEntryKind::File ? entry->size : 0;
        m_progress.FileBegins(file.name, size);
        std::string failure;
        const bool ok = ShredFile(file, &failure);
        m_progress.FileEnds();
        if (!ok) {
            Fail(TShredSkip::Failed, failure);
            return false;
        }
        if (ShredCancelled && file.folder->Find(file.name)) {
            m_kept = path;
            return true;
        }
        ++m_shredded;
        m_shreddedBytes += size;
        if (names > 1) {
            m_line.Message("warning: \"" + path + "\" had " + std::to_string(names - 1) +
                           " other name(s) for the same data; they remain and now show the overwritten bytes");
        }
        return true;
    }

    // Every file is shredded while its folder is open, by name in that folder: a subfolder swapped
    // for a link meanwhile can make a file be missed, never a file outside the tree be touched.
    class TFolderWalk final : public TTreeVisitor
    {
    public:
        explicit TFolderWalk(TShredRun& run) : m_run(run) {}

        void File(const TFileRef& file) override
        {
            if (ShredCancelled) {
                ++m_run.m_untouched;
                return;
            }
            // Clearing a file's hidden mark edits the folder's `.hidden` list and removes it with
            // its last line: a listed file that is gone by now has nothing left to shred.
            if (!file.folder->Find(file.name)) {
                return;
            }
            if (!m_run.File(file)) {
                kept.push_back(file.Path());
            }
        }
        void Other(const std::string& path) override
        {
            m_run.Fail(TShredSkip::NotRegular,
                       "\"" + path + "\" is not a regular file (a FIFO, socket or device): not opened");
            kept.push_back(path);
        }
        void Unreadable(const std::string& path) override
        {
            m_run.Fail(TShredSkip::Unlistable, "\"" + path + "\" cannot be listed: its files were not shredded");
            kept.push_back(path);
        }
        void FolderDone(const std::shared_ptr<const TFolder>& parent, const std::string& name,
                        const TFileIdentity&) override
        {
            emptied.emplace_back(parent, name);
        }

        // What stays in the tree: each keeps its own folder and the folders above it, no other.
        std::vector<std::string> kept;
        std::vector<std::pair<std::shared_ptr<const TFolder>, std::string>> emptied;

    private:
        TShredRun& m_run;
    };

    void Folder(const std::string& path)
    {
        if (IsVolumeRoot(path)) {
            Fail(TShredSkip::VolumeRoot, "\"" + path + "\" is the root of a mounted volume: not shredded");
            return;
        }
        TFolderWalk walk(*this);
        WalkTree(path, walk);
        if (ShredCancelled) {
            return;
        }
        // Only emptied folders go, by name in their open parents: anything that appeared
        // meanwhile keeps its folder.
        const auto holdsKept = [&walk](const std::string& folder) {
            return std::any_of(walk.kept.begin(), walk.kept.end(),
                               [&folder](const std::string& path) { return IsWithin(path, folder); });
        };
        for (const auto& [parent, name] : walk.emptied) {
            if (holdsKept(parent->PathOf(name))) {
                continue;
            }
            try {
                parent->RemoveFolder(name);
            } catch (const EFileError& e) {
                m_line.Message(std::string("warning: folder kept: ") + e.what());
            }
        }
        walk.emptied.clear();
        if (!walk.kept.empty()) {
            return;
        }
        try {
            RemoveFolder(path);
        } catch (const EFileError& e) {
            m_line.Message(std::string("warning: folder kept: ") + e.what());
        }
    }

    // Every item not shredded is said at once, in its own words, and counted for the summary.
    void Fail(TShredSkip why, const std::string& text)
    {
        m_line.Message(text);
        ++m_skipped[why];
        m_failed = true;
    }

    // A name as Message would show it, for the lines written after the progress line is gone.
    static std::string TerminalText(const std::string& text) { return StderrIsTerminal() ? TerminalSafe(text) : text; }

    bool m_recursive;
    bool m_quiet;
    TProgressLine m_line;
    TCliProgress m_progress;
    std::map<TShredSkip, std::uint64_t> m_skipped;
    bool m_failed = false;
    std::optional<std::string> m_kept;
    std::uint64_t m_shredded = 0;
    std::uint64_t m_shreddedBytes = 0;
    std::uint64_t m_untouched = 0;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};
} // namespace

int RunShredCommand(const std::vector<std::string>& args)
{
    TOptions options;
    bool help = false;
    if (const auto error = ParseOptions(args, options, help)) {
        std::cerr << "vellumox-cli shred: " << *error << '\n' << kUsage;
        return 2;
    }
    if (help) {
        std::cout << kUsage;
        return 0;
    }
    if (!options.yes) {
        if (!StdinIsTerminal()) {
            std::cerr << "vellumox-cli shred: no terminal to confirm on; add -y to shred without asking\n";
            return 2;
        }
        std::string answer;
        if (!ReadAnswerLine("Are you sure you wont to shred selected file(s)? ", answer) || !IsYes(answer)) {
            std::cout << "Nothing was shredded.\n";
            return 0;
        }
    }
    try {
        ShredMethod = options.method;
        ShredRepeat = options.repeat;
        ShredCancelled = false;
        TStopSignals interrupt(true);
        TShredRun run(options.recursive, options.Quiet, PassesPerFile(options.method, options.repeat));
        std::vector<std::string> paths;
        for (const std::string& path : options.paths) {
            paths.push_back(WithoutTrailingSeparators(path));
        }
        run.CountAhead(paths);
        for (const std::string& path : paths) {
            run.Item(path);
        }
        return run.Finish();
    } catch (const std::exception& e) {
        std::cerr << "vellumox-cli shred: " << e.what() << '\n';
        return 3;
    }
}
