// The shred command: the shred run of the command-line tool.
#include "cli/ShredCommand.h"

#include "cli/CliCommon.h"
#include "cli/Terminal.h"
#include "platform/Files.h"
#include "wipe/WipeReach.h"
#include "wipe/funkcije_u.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
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
    TShredRun(bool recursive, bool force, TFileSet linksAllowed)
        : m_recursive(recursive), m_force(force), m_linksAllowed(std::move(linksAllowed)), m_progress(m_line)
    {
        SetWipeProgress(TWipeTarget::ShredWindow, &m_progress);
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
                File(AnchorPath(path));
            } catch (const EFileError& e) {
                m_failures.push_back(e.what());
            }
        } else if (!m_recursive) {
            m_failures.push_back("\"" + path + "\" is a folder (use -r to shred folders)");
        } else {
            Folder(path);
        }
    }

    int Finish()
    {
        m_line.Clear();
        if (!m_failures.empty()) {
            std::cerr << "Some files can not be shredded because they are in use.!\n";
            for (const std::string& failure : m_failures) {
                std::cerr << "  " << failure << '\n';
            }
        }
        if (ShredCancelled) {
            std::cerr << "Cancelled.";
            if (m_kept) {
                std::cerr << " \"" << *m_kept << "\" was kept, partly overwritten.";
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
        return m_failures.empty() ? kExitOk : kExitSkipped;
    }

private:
    bool File(const TFileRef& file)
    {
        const std::string path = file.Path();
        const auto entry = file.folder->Find(file.name);
        const std::uint64_t names = entry && entry->kind == TEntryKind::File ? entry->links : 1;
        if (names > 1 && !m_force && !m_linksAllowed.contains({entry->identity.device, entry->identity.inode})) {
            m_failures.push_back("\"" + path + "\" has " + std::to_string(names) +
                                 " hard links: not shredded, as that would overwrite the data its other names show "
                                 "(answer y at a terminal, or add --force with -y)");
            return false;
        }
        m_progress.SetFile(file.name);
        std::string failure;
        const bool ok = ShredFile(file, &failure);
        m_line.Clear();
        if (!ok) {
            m_failures.push_back(failure);
            return false;
        }
        if (ShredCancelled && file.folder->Find(file.name)) {
            m_kept = path;
            return true;
        }
        ++m_shredded;
        if (names > 1) {
            std::cerr << "warning: \"" << path << "\" had " << names - 1
                      << " other name(s) for the same data; they remain and now show the overwritten bytes\n";
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
            m_run.m_failures.push_back("\"" + path + "\" is not a regular file (a FIFO, socket or device): not opened");
            kept.push_back(path);
        }
        void Unreadable(const std::string& path) override
        {
            m_run.m_failures.push_back("\"" + path + "\" cannot be listed: its files were not shredded");
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
            m_failures.push_back("\"" + path + "\" is the root of a mounted volume: not shredded");
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
    bool m_force;
    // Files with other hard links that the user agreed to shred, by device and inode.
    TFileSet m_linksAllowed;
    TProgressLine m_line;
    TCliProgress m_progress;
    std::vector<std::string> m_failures;
    std::optional<std::string> m_kept;
    std::size_t m_shredded = 0;
    std::size_t m_untouched = 0;
};
} // namespace

namespace
{
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
    for (const std::string& warning : ReachWarnings(preview.volumeSamples)) {
        std::cerr << warning << '\n';
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
    TShredRun run(options.recursive, options.force, linksAllowed);
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
