// The shred command: the shred run of the command-line tool.
#include "cli/ShredCommand.h"

#include "cli/CliCommon.h"
#include "cli/Terminal.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <csignal>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
constexpr const char* kUsage =
    "usage: vellumox-cli shred [--method 0-4] [--repeat N] [-r] [-j N] [-y] PATH...\n"
    "  --method N  0 simple one pass, 1 simple two pass, 2 DoD 5220-22M (default),\n"
    "              3 military standard (8 passes), 4 Gutmann (35 passes)\n"
    "  --repeat N  how often the method runs its passes (default 1; Gutmann always runs once)\n"
    "  -r          shred folders: every file below them, then the emptied folders\n"
    "  -j N        shred N files at once (default and 0: one per core)\n"
    "  -y          shred without asking\n";

struct TOptions
{
    std::int32_t method = 2;
    std::int32_t repeat = 1;
    bool recursive = false;
    bool yes = false;
    unsigned jobs = WorkerCount(0);
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
            } else if (option == "-j" || option == "--jobs") {
                options.jobs = ParseJobs(reader.Value(option));
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

// The shred window's label and bar, drawn as one line on the terminal.
class TCliProgress final : public TWipeProgress
{
public:
    explicit TCliProgress(TProgressLine& line) : m_line(line) {}

    void SetFile(const std::string& name) { m_file = name; }
    void MethodLabel(const std::string& text) override { m_label = text; }
    void BarStart(std::int64_t maximum) override
    {
        m_maximum = maximum;
        Draw(0);
    }
    void BarPosition(std::int64_t position) override { Draw(position); }

private:
    void Draw(std::int64_t position)
    {
        m_line.Show(m_file, static_cast<std::uint64_t>(std::max<std::int64_t>(position, 0)),
                    static_cast<std::uint64_t>(std::max<std::int64_t>(m_maximum, 0)), m_label);
    }

    TProgressLine& m_line;
    std::string m_file;
    std::string m_label;
    std::int64_t m_maximum = 0;
};

class TShredRun
{
public:
    TShredRun(bool recursive, unsigned jobs) : m_recursive(recursive), m_progress(m_line)
    {
        // The pass-by-pass progress belongs to one file at a time: with several files at once
        // only the files done are shown.
        if (jobs > 1) {
            m_pool.emplace(jobs);
        } else {
            SetWipeProgress(TWipeTarget::ShredWindow, &m_progress);
        }
    }
    ~TShredRun() { SetWipeProgress(TWipeTarget::ShredWindow, nullptr); }
    TShredRun(const TShredRun&) = delete;
    TShredRun& operator=(const TShredRun&) = delete;

    void Item(const std::string& path)
    {
        if (ShredCancelled) {
            ++m_untouched;
            return;
        }
        if (!IsDirectory(path)) {
            try {
                const TFileRef file = AnchorPath(path);
                // A hidden-name list is wiped alone, as in the folder walk.
                const bool alone = m_pool && file.name == kHiddenListName;
                if (alone) {
                    m_pool->Drain();
                }
                File(file, [](bool) {});
                if (alone) {
                    m_pool->Drain();
                }
            } catch (const EFileError& e) {
                Failure(e.what());
            }
        } else if (!m_recursive) {
            Failure("\"" + path + "\" is a folder (use -r to shred folders)");
        } else {
            Folder(path);
        }
    }

    int Finish()
    {
        if (m_pool) {
            m_pool->Drain();
        }
        m_line.Clear();
        if (!m_failures.empty()) {
            std::cerr << "Some files can not be shredded because they are in use.!\n";
            for (const std::string& failure : m_failures) {
                std::cerr << "  " << failure << '\n';
            }
        }
        if (ShredCancelled) {
            std::cerr << "Cancelled.";
            for (const std::string& kept : m_kept) {
                std::cerr << " \"" << kept << "\" was kept, partly overwritten.";
            }
            if (m_untouched > 0) {
                std::cerr << ' ' << m_untouched << " later item(s) were not touched.";
            }
            std::cerr << '\n';
        }
        std::cout << "Shredded " << m_shredded << " file(s).\n";
        if (ShredCancelled) {
            return StopSignal() != 0 ? 128 + StopSignal() : kExitError;
        }
        return m_failures.empty() ? 0 : 1;
    }

private:
    // What the wipe of one file came to; found on any thread.
    struct TShredOutcome
    {
        // Cancelled before it began, or gone before its turn came: nothing was done.
        bool untouched = false;
        bool gone = false;
        bool ok = false;
        std::string failure;
        // Cancelled part way: the file is still there.
        bool kept = false;
        std::uint64_t names = 1;
    };

    static TShredOutcome ShredOne(const TFileRef& file)
    {
        TShredOutcome outcome;
        const auto entry = file.folder->Find(file.name);
        outcome.names = entry && entry->kind == TEntryKind::File ? entry->links : 1;
        outcome.ok = ShredFile(file, &outcome.failure);
        outcome.kept = outcome.ok && ShredCancelled && file.folder->Find(file.name);
        return outcome;
    }

    // Counts and reports one file's wipe, in the order the files were met. False when it failed.
    bool Record(const std::string& path, const TShredOutcome& outcome)
    {
        if (!outcome.ok) {
            m_failures.push_back(outcome.failure);
            return false;
        }
        if (outcome.kept) {
            m_kept.push_back(path);
            return true;
        }
        ++m_shredded;
        if (outcome.names > 1) {
            m_line.Clear();
            std::cerr << "warning: \"" << path << "\" had " << outcome.names - 1
                      << " other name(s) for the same data; they remain and now show the overwritten bytes\n";
        }
        return true;
    }

    // Shreds the file now or hands it to a worker; then(ok) follows in the order files were given,
    // unless the file was left untouched. When skipGone, a file gone by its turn is passed over.
    void File(const TFileRef& file, std::function<void(bool)> then, bool skipGone = false)
    {
        if (!m_pool) {
            if (skipGone && !file.folder->Find(file.name)) {
                return;
            }
            m_progress.SetFile(file.name);
            const TShredOutcome outcome = ShredOne(file);
            m_line.Clear();
            then(Record(file.Path(), outcome));
            return;
        }
        auto outcome = std::make_shared<TShredOutcome>();
        m_pool->Add(
            [file, outcome, skipGone](unsigned) {
                if (ShredCancelled) {
                    outcome->untouched = true;
                } else if (skipGone && !file.folder->Find(file.name)) {
                    outcome->gone = true;
                } else {
                    *outcome = ShredOne(file);
                }
            },
            [this, file, outcome, then] {
                if (outcome->untouched) {
                    ++m_untouched;
                    return;
                }
                if (outcome->gone) {
                    return;
                }
                const std::string path = file.Path();
                then(Record(path, *outcome));
                m_line.Show(file.name, 0, 0, std::to_string(m_shredded) + " file(s) shredded");
            });
    }

    // A failure found without wiping anything, reported in its place among the files' reports.
    void Failure(const std::string& message, std::function<void()> then = {})
    {
        auto report = [this, message, then] {
            m_failures.push_back(message);
            if (then) {
                then();
            }
        };
        if (m_pool) {
            m_pool->Add([](unsigned) {}, report);
        } else {
            report();
        }
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
            // Clearing a file's hidden mark edits the folder's `.hidden` list: the list is wiped
            // alone, after the files met before it and before those met after, as one at a time.
            const bool alone = m_run.m_pool && file.name == kHiddenListName;
            if (alone) {
                m_run.m_pool->Drain();
            }
            Shred(file);
            if (alone) {
                m_run.m_pool->Drain();
            }
        }
        void Other(const std::string& path) override
        {
            m_run.Failure("\"" + path + "\" is not a regular file (a FIFO, socket or device): not opened",
                          [this, path] { kept.push_back(path); });
        }
        void Unreadable(const std::string& path) override
        {
            m_run.Failure("\"" + path + "\" cannot be listed: its files were not shredded",
                          [this, path] { kept.push_back(path); });
        }
        void FolderDone(const std::shared_ptr<const TFolder>& parent, const std::string& name,
                        const TFileIdentity&) override
        {
            emptied.emplace_back(parent, name);
        }

        // Clearing a file's hidden mark edits the folder's `.hidden` list and removes it with its
        // last line: a listed file that is gone by its turn has nothing left to shred.
        void Shred(const TFileRef& file)
        {
            const std::string path = file.Path();
            m_run.File(
                file,
                [this, path](bool ok) {
                    if (!ok) {
                        kept.push_back(path);
                    }
                },
                true);
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
            Failure("\"" + path + "\" is the root of a mounted volume: not shredded");
            return;
        }
        TFolderWalk walk(*this);
        WalkTree(path, walk);
        // The folders go only after every file in them is done.
        if (m_pool) {
            m_pool->Drain();
        }
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
                std::cerr << "warning: folder kept: " << e.what() << '\n';
            }
        }
        walk.emptied.clear();
        if (!walk.kept.empty()) {
            return;
        }
        try {
            RemoveFolder(path);
        } catch (const EFileError& e) {
            std::cerr << "warning: folder kept: " << e.what() << '\n';
        }
    }

    bool m_recursive;
    TProgressLine m_line;
    TCliProgress m_progress;
    std::vector<std::string> m_failures;
    // Files a cancel left partly overwritten: the one being wiped, or one per worker.
    std::vector<std::string> m_kept;
    std::size_t m_shredded = 0;
    std::size_t m_untouched = 0;
    // Last, so that its workers stop before anything they report to goes.
    std::optional<TOrderedWorkers> m_pool;
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
        TShredRun run(options.recursive, options.jobs);
        for (const std::string& path : options.paths) {
            run.Item(WithoutTrailingSeparators(path));
        }
        return run.Finish();
    } catch (const std::exception& e) {
        std::cerr << "vellumox-cli shred: " << e.what() << '\n';
        return 3;
    }
}
