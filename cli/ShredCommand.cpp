// The shred command: the shred run of the command-line tool.
#include "cli/ShredCommand.h"

#include "cli/CliCommon.h"
#include "cli/Progress.h"
#include "cli/Terminal.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "wipe/WipeReach.h"
#include "wipe/funkcije_u.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <csignal>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
struct TOptions
{
    std::int32_t method = 2;
    std::int32_t repeat = 1;
    bool recursive = false;
    bool yes = false;
    bool force = false;
    std::vector<std::string> paths;
    bool Quiet = false;
    // 0: one file at a time per processor core.
    unsigned Jobs = 0;
};

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

// Files by device and inode.
using TFileSet = std::set<std::pair<std::uint64_t, std::uint64_t>>;

// What the run is about to overwrite, looked at before anything is: one file per volume, for the
// warning about what overwriting cannot reach, and every file whose data has other names.
struct TPreview
{
    std::vector<std::string> volumeSamples;
    struct TLinked
    {
        std::string path;
        std::uint64_t links;
        TFileIdentity identity;
    };
    std::vector<TLinked> linked;
};

TPreview Preview(const std::vector<std::string>& paths, bool recursive)
{
    TPreview preview;
    std::set<std::uint64_t> devices;
    const auto look = [&](const std::string& path, const std::optional<TFoundEntry>& entry) {
        if (!entry || entry->kind != TEntryKind::File) {
            return;
        }
        if (devices.insert(entry->identity.device).second) {
            preview.volumeSamples.push_back(path);
        }
        if (entry->links > 1) {
            preview.linked.push_back({path, entry->links, entry->identity});
        }
    };
    for (const std::string& path : paths) {
        if (!IsDirectory(path)) {
            look(path, FindEntry(path));
        } else if (recursive && !IsVolumeRoot(path)) {
            // A folder that cannot be listed now is reported by the run itself.
            try {
                const TTreeListing tree = ListTree(path);
                for (std::size_t i = 0; i < tree.files.size(); ++i) {
                    look(tree.files[i], tree.fileRefs[i].folder->Find(tree.fileRefs[i].name));
                }
            } catch (const EFileError&) {
            }
        }
    }
    return preview;
}

// Asks once about every file whose data other names share: shredding overwrites what those names
// show too. Returns the files the user allowed; without a terminal, none (they need --force).
TFileSet AskAboutLinks(const std::vector<TPreview::TLinked>& linked)
{
    TFileSet allowed;
    if (linked.empty() || !StdinIsTerminal()) {
        return allowed;
    }
    for (const TPreview::TLinked& file : linked) {
        std::cerr << "\"" << file.path << "\" has " << file.links
                  << " hard links: shredding it overwrites the data its other names show too.\n";
    }
    std::string answer;
    const std::string question = linked.size() == 1
                                     ? "Shred it all the same? (y/N) "
                                     : "Shred these " + std::to_string(linked.size()) + " files all the same? (y/N) ";
    if (ReadAnswerLine(question, answer) && IsYes(answer)) {
        for (const TPreview::TLinked& file : linked) {
            allowed.emplace(file.identity.device, file.identity.inode);
        }
    }
    return allowed;
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
    HardLinked,
};

class TShredRun
{
public:
    TShredRun(bool recursive, bool quiet, std::uint64_t passes, bool force, TFileSet linksAllowed, unsigned jobs)
        : m_recursive(recursive), m_quiet(quiet), m_force(force), m_linksAllowed(std::move(linksAllowed)),
          m_line(!quiet), m_progress(m_line, passes)
    {
        // The progress keeps a file in hand per thread, so every worker's passes feed the one bar.
        SetWipeProgress(TWipeTarget::ShredWindow, &m_progress);
        if (jobs > 1) {
            m_pool.emplace(jobs);
        }
    }
    ~TShredRun()
    {
        m_pool.reset();
        SetWipeProgress(TWipeTarget::ShredWindow, nullptr);
    }
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
        if (m_pool) {
            m_pool->Drain();
        }
        m_line.Clear();
        if (ShredCancelled) {
            std::cerr << "Cancelled.";
            for (const std::string& kept : m_kept) {
                std::cerr << " \"" << TerminalText(kept) << "\" was kept, partly overwritten.";
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
                {"other hard links (--force with -y shreds them)", m_skipped[TShredSkip::HardLinked]},
            };
            std::cerr << SummaryText(summary) << std::flush;
        }
        if (ShredCancelled) {
            return StopSignal() != 0 ? 128 + StopSignal() : kExitError;
        }
        return m_failed ? kExitSkipped : kExitOk;
    }

private:
    // What the wipe of one file came to; found on any thread.
    struct TShredOutcome
    {
        // Cancelled before it began, or gone before its turn came: nothing was done.
        bool untouched = false;
        bool gone = false;
        // Refused for its other hard links, before anything was written.
        bool linked = false;
        bool ok = false;
        std::string failure;
        // Cancelled part way: the file is still there.
        bool kept = false;
        std::uint64_t names = 1;
        std::uint64_t size = 0;
    };

    TShredOutcome ShredOne(const TFileRef& file)
    {
        TShredOutcome outcome;
        const auto entry = file.folder->Find(file.name);
        const bool regular = entry && entry->kind == TEntryKind::File;
        outcome.names = regular ? entry->links : 1;
        outcome.size = regular ? entry->size : 0;
        if (outcome.names > 1 && !m_force &&
            !m_linksAllowed.contains({entry->identity.device, entry->identity.inode})) {
            outcome.linked = true;
            return outcome;
        }
        m_progress.FileBegins(file.name, outcome.size);
        outcome.ok = ShredFile(file, &outcome.failure);
        m_progress.FileEnds();
        outcome.kept = outcome.ok && ShredCancelled && file.folder->Find(file.name);
        return outcome;
    }

    // Counts and reports one file's wipe, in the order the files were met. False when it failed.
    bool Record(const std::string& path, const TShredOutcome& outcome)
    {
        if (outcome.linked) {
            Fail(TShredSkip::HardLinked, "\"" + path + "\" has " + std::to_string(outcome.names) +
                                             " hard links: not shredded, as that would overwrite the data its other "
                                             "names show (answer y at a terminal, or add --force with -y)");
            return false;
        }
        if (!outcome.ok) {
            Fail(TShredSkip::Failed, outcome.failure);
            return false;
        }
        if (outcome.kept) {
            m_kept.push_back(path);
            return true;
        }
        ++m_shredded;
        m_shreddedBytes += outcome.size;
        if (outcome.names > 1) {
            m_line.Message("warning: \"" + path + "\" had " + std::to_string(outcome.names - 1) +
                           " other name(s) for the same data; they remain and now show the overwritten bytes");
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
            const TShredOutcome outcome = ShredOne(file);
            then(Record(file.Path(), outcome));
            return;
        }
        auto outcome = std::make_shared<TShredOutcome>();
        m_pool->Add(
            [this, file, outcome, skipGone](unsigned) {
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
                then(Record(file.Path(), *outcome));
            });
    }

    // An item not shredded for a reason found without wiping anything, reported in its place among
    // the files' reports.
    void Failure(TShredSkip why, const std::string& message, std::function<void()> then = {})
    {
        auto report = [this, why, message, then] {
            Fail(why, message);
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
            m_run.Failure(TShredSkip::NotRegular,
                          "\"" + path + "\" is not a regular file (a FIFO, socket or device): not opened",
                          [this, path] { kept.push_back(path); });
        }
        void Unreadable(const std::string& path) override
        {
            m_run.Failure(TShredSkip::Unlistable, "\"" + path + "\" cannot be listed: its files were not shredded",
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
            Failure(TShredSkip::VolumeRoot, "\"" + path + "\" is the root of a mounted volume: not shredded");
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
    bool m_force;
    // Files with other hard links that the user agreed to shred, by device and inode.
    TFileSet m_linksAllowed;
    TProgressLine m_line;
    TCliProgress m_progress;
    std::map<TShredSkip, std::uint64_t> m_skipped;
    bool m_failed = false;
    // Files a cancel left partly overwritten: the one being wiped, or one per worker.
    std::vector<std::string> m_kept;
    std::uint64_t m_shredded = 0;
    std::uint64_t m_shreddedBytes = 0;
    std::uint64_t m_untouched = 0;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    // Last, so that its workers stop before anything they report to goes.
    std::optional<TOrderedWorkers> m_pool;
};

int RunShred(const TOptions& options)
{
    if (!options.yes && !StdinIsTerminal()) {
        throw EUsage("no terminal to confirm on; add -y to shred without asking");
    }
    std::vector<std::string> paths;
    for (const std::string& path : options.paths) {
        paths.push_back(WithoutTrailingSeparators(path));
    }
    const TPreview preview = Preview(paths, options.recursive);
    if (!options.Quiet) {
        for (const std::string& warning : ReachWarnings(preview.volumeSamples)) {
            std::cerr << warning << '\n';
        }
    }
    if (!options.yes) {
        std::string answer;
        if (!ReadAnswerLine("Are you sure you wont to shred selected file(s)? ", answer) || !IsYes(answer)) {
            std::cout << "Nothing was shredded.\n";
            return kExitOk;
        }
    }
    const auto linksAllowed = options.force ? TFileSet{} : AskAboutLinks(preview.linked);
    ShredMethod = options.method;
    ShredRepeat = options.repeat;
    ShredCancelled = false;
    TStopSignals interrupt(true);
    TShredRun run(options.recursive, options.Quiet, PassesPerFile(options.method, options.repeat), options.force,
                  linksAllowed, WorkerCount(options.Jobs));
    run.CountAhead(paths);
    for (const std::string& path : paths) {
        run.Item(path);
    }
    return run.Finish();
}
} // namespace

TCommandRun AddShredCommand(CLI::App& tool)
{
    auto options = std::make_shared<TOptions>();
    CLI::App& sub = *tool.add_subcommand("shred", "overwrite each file, then rename it at random and delete it");
    sub.add_option("--method", options->method,
                   "0 simple one pass, 1 simple two pass, 2 DoD 5220-22M (the default), 3 military standard "
                   "(8 passes), 4 Gutmann (35 passes)")
        ->type_name("N")
        ->check(WholeNumber(0, 4));
    // A count of 0 would write nothing and still delete the file as if shredded.
    sub.add_option("--repeat", options->repeat,
                   "how often the method runs its passes (default 1; Gutmann always runs once)")
        ->type_name("N")
        ->check(WholeNumber(1, INT32_MAX));
    sub.add_flag("-y,--yes", options->yes, "shred without asking (a file with other hard links is still asked about)");
    sub.add_flag("--force", options->force,
                 "with -y, also shred files with other hard links without asking: their other names keep showing "
                 "the overwritten data");
    AddQuietOption(sub, options->Quiet);
    AddJobsOption(sub, options->Jobs);
    AddPathOperands(sub, options->paths, "the files to shred, and with -r the folders");
    sub.add_flag("-r,--recursive", options->recursive,
                 "shred every file below the given folders, then every folder that was emptied; links are never "
                 "followed");
    sub.footer("Examples:\n"
               "  vellumox-cli shred old-letter.odt\n"
               "      asks first, then overwrites with DoD 5220-22M and deletes\n"
               "  vellumox-cli shred -ry --method 0 old-letters/\n"
               "      one pass over every file below old-letters/, then its folders; no question\n"
               "\n"
               "Every pass is flushed to the disk. Overwriting does not reach old copies of the data on "
               "copy-on-write or log-structured file systems, on SSDs and flash media, in snapshots or backups.\n"
               "\n"
               "Exit status: 0 every file shredded; 1 some were kept (each named); 2 usage error; 128 + N "
               "stopped by signal N (the file being overwritten is kept, partly overwritten).");
    return [options] { return RunShred(*options); };
}
