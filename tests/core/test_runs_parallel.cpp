// Runs that work on several files at once: the same files, lists and reports as one file at a
// time, one view call at a time, and a stop that leaves every file whole; and the ordered workers
// beneath them.
#include "encryption/Runs.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace
{
// Everything a run tells about its files, with the folder cut off so that two trees compare; and
// whether two calls ever overlapped.
class TReportView final : public TRunView
{
public:
    explicit TReportView(std::string root) : m_root(std::move(root)) {}

    void CurrentLabel(const std::string& text) override
    {
        const TEnter enter(*this);
        if (text.rfind("Last File: ", 0) == 0) {
            events.push_back(text);
        }
    }
    void ProcessedLabel(const std::string& text) override
    {
        const TEnter enter(*this);
        events.push_back(text);
    }
    void TotalBar(std::int64_t position, std::int64_t maximum) override
    {
        const TEnter enter(*this);
        events.push_back("total " + std::to_string(position) + "/" + std::to_string(maximum));
    }
    void CurrentBar(std::int64_t, std::int64_t) override { const TEnter enter(*this); }
    void LogLine(const std::string& text, int image) override
    {
        const TEnter enter(*this);
        events.push_back("log " + text + " " + std::to_string(image));
    }
    void FinalMessage(const std::string& text) override
    {
        const TEnter enter(*this);
        events.push_back("final " + text);
    }
    void FileSkipped(const std::string& path, const std::string& reason) override
    {
        const TEnter enter(*this);
        events.push_back("skipped " + Cut(path) + ": " + Cut(reason));
    }
    void FileNote(const std::string& path, const std::string& note) override
    {
        const TEnter enter(*this);
        events.push_back("note " + Cut(path) + ": " + Cut(note));
    }
    bool StopRequested() override
    {
        const TEnter enter(*this);
        return stopAfterChecks >= 0 && ++m_checks > stopAfterChecks;
    }

    std::vector<std::string> events;
    // Ask for a stop once the run has asked this many times; -1 never.
    long stopAfterChecks = -1;
    bool overlapped = false;

private:
    // Marks a call as running and lingers a moment inside it, so that a second call from another
    // thread would find it there.
    class TEnter
    {
    public:
        explicit TEnter(TReportView& view) : m_view(view)
        {
            if (m_view.m_inside.fetch_add(1) != 0) {
                m_view.overlapped = true;
            }
            std::this_thread::yield();
        }
        ~TEnter() { m_view.m_inside.fetch_sub(1); }
        TEnter(const TEnter&) = delete;
        TEnter& operator=(const TEnter&) = delete;

    private:
        TReportView& m_view;
    };

    std::string Cut(std::string text) const
    {
        for (std::size_t at; (at = text.find(m_root)) != std::string::npos;) {
            text.replace(at, m_root.size(), "ROOT");
        }
        return text;
    }

    std::string m_root;
    std::atomic<int> m_inside{0};
    long m_checks = 0;
};

// Every file below root by its relative path; a folder's hidden-name list as its sorted names,
// since the order of its lines says only which file finished first.
std::map<std::string, TBytes> Snapshot(const std::string& root)
{
    std::map<std::string, TBytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string relative = std::filesystem::relative(entry.path(), root).generic_string();
        TBytes bytes = ReadAll(entry.path().string());
        if (entry.path().filename() == kHiddenListName) {
            std::set<std::string> names;
            std::istringstream lines(std::string(bytes.begin(), bytes.end()));
            for (std::string line; std::getline(lines, line);) {
                names.insert(line);
            }
            std::string sorted;
            for (const std::string& name : names) {
                sorted += name + "\n";
            }
            bytes = Text(sorted);
        }
        files[relative] = bytes;
    }
    return files;
}

// A mixed folder: plain files of many sizes (a few large enough that the workers overlap), one
// that only looks encrypted, a damaged header, two files of another password, one held by another
// program, and a subfolder.
void Fill(const std::string& root)
{
    std::filesystem::create_directories(root + "/sub");
    for (unsigned i = 0; i < 16; ++i) {
        const std::size_t size = i % 4 == 0 ? 300000 + i : 1000 * i + 7;
        WriteAll(root + "/f" + std::to_string(i), RandomBytes(size, i));
    }
    for (unsigned i = 0; i < 4; ++i) {
        WriteAll(root + "/sub/g" + std::to_string(i), RandomBytes(20000 * i + 3, 100 + i));
    }
    WriteText(root + "/done", "##$04 sixteen bytes or more");
    WriteText(root + "/cut", "##$01abcde");
    WriteAll(root + "/locked", RandomBytes(5000, 200));
    for (const char* name : {"/wrong1", "/wrong2"}) {
        WriteAll(root + name, RandomBytes(7000, 300));
        TFileRun setUp;
        setUp.AddFile(root + name);
        TRunOptions options;
        options.SourceAction = TSourceAction::Delete;
        TRunView quiet;
        setUp.RunEncryption("another password", options, quiet);
    }
}

struct TRunRecord
{
    std::vector<std::vector<std::string>> events;
    std::vector<std::vector<std::vector<std::string>>> lists;
    std::map<std::string, TBytes> tree;
};

// The same sequence of runs over the folder, with the given number of jobs: encryptions beside and
// in place, decryptions beside (where "fN" and "fN.enc" both decrypt to "fN.dec") and in place.
TRunRecord RunAll(const std::string& root, unsigned jobs)
{
    Fill(root);
    std::optional<TOtherHolder> holder;
    holder.emplace(root + "/locked", TOtherHolder::TKind::Exclusive);
    EXPECT_TRUE(holder->Held());
    TRunRecord record;
    const auto once = [&](bool encrypting, TSourceAction action) {
        // The folder's own files by name, so that "f4" and "f4.enc" stand side by side, and "f4"
        // twice running: a file and its twin must meet each other's result, not race it.
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root)) {
            if (entry.is_regular_file() && entry.path().filename() != kHiddenListName) {
                names.insert(entry.path().filename().string());
            }
        }
        TFileRun run;
        for (const std::string& name : names) {
            run.AddFile(root + "/" + name);
            if (name == "f4") {
                run.AddFile(root + "/" + name);
            }
        }
        run.AddFolder(root + "/sub");
        TRunOptions options;
        options.Jobs = jobs;
        options.SourceAction = action;
        options.ContinueAfterError = true;
        options.MarkHidden = encrypting && action != TSourceAction::Leave;
        options.KeepDate = true;
        options.Verify = !encrypting;
        TReportView view(root);
        if (encrypting) {
            run.RunEncryption("pw", options, view);
        } else {
            run.RunDecryption("pw", options, view);
        }
        EXPECT_FALSE(view.overlapped) << "two view calls ran at once with " << jobs << " jobs";
        record.events.push_back(view.events);
        record.lists.push_back({run.InUseList, run.BadPasswordList, run.AlreadyDoneList, run.UnsupportedList,
                                run.DamagedList, run.OutputExistsList, run.FailedList});
        for (auto& list : record.lists.back()) {
            for (std::string& path : list) {
                path.replace(0, root.size(), "ROOT");
            }
        }
    };
    once(true, TSourceAction::Leave);
    once(true, TSourceAction::Delete);
    once(false, TSourceAction::Leave);
    once(false, TSourceAction::Shred);
    // Let go first: on Windows a file held this way cannot even be read.
    holder.reset();
    record.tree = Snapshot(root);
    return record;
}

TEST(ParallelRuns, SeveralJobsGiveTheSerialRunsFilesListsAndReports)
{
    TTempDir dir;
    const TRunRecord serial = RunAll(dir / "serial", 1);
    for (const unsigned jobs : {2u, 5u}) {
        SCOPED_TRACE(jobs);
        const TRunRecord parallel = RunAll(dir / ("jobs" + std::to_string(jobs)), jobs);
        ASSERT_EQ(parallel.events.size(), serial.events.size());
        for (std::size_t i = 0; i < serial.events.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(parallel.events[i], serial.events[i]);
            EXPECT_EQ(parallel.lists[i], serial.lists[i]);
        }
        EXPECT_EQ(parallel.tree, serial.tree);
    }
    // The runs did what they say: the in-place files came back, the others' were never touched.
    EXPECT_EQ(serial.tree.at("f5"), RandomBytes(5007, 5));
    EXPECT_EQ(serial.tree.at("sub/g2"), RandomBytes(40003, 102));
    const auto& alreadyInPlace = serial.lists[1][2];
    EXPECT_EQ(std::count(alreadyInPlace.begin(), alreadyInPlace.end(), "ROOT/f4"), 1) << "the twin was not done";
    EXPECT_EQ(serial.lists[3][1], (std::vector<std::string>{"ROOT/done", "ROOT/wrong1", "ROOT/wrong2"}));
    EXPECT_EQ(serial.tree.count(".hidden"), 0u);
}

TEST(ParallelRuns, EveryFileOfAFolderKeepsItsHiddenMark)
{
    TTempDir dir;
    TFileRun run;
    for (int i = 0; i < 40; ++i) {
        WriteAll(dir / ("h" + std::to_string(i)), RandomBytes(100, static_cast<unsigned>(i)));
    }
    run.AddFolder(dir.Path());
    TRunOptions options;
    options.Jobs = 4;
    options.SourceAction = TSourceAction::Delete;
    options.MarkHidden = true;
    TRunView quiet;
    run.RunEncryption("pw", options, quiet);
    for (int i = 0; i < 40; ++i) {
        EXPECT_NE(ReadFileAttributes(dir / ("h" + std::to_string(i))) & kAttrHidden, 0u) << i;
    }
}

TEST(ParallelRuns, AStopLeavesEveryFileWholeAndNoPartialOutput)
{
    TTempDir dir;
    std::map<std::string, TBytes> sources;
    for (unsigned i = 0; i < 6; ++i) {
        const std::string path = dir / ("s" + std::to_string(i));
        sources[path] = RandomBytes(400000, i);
        WriteAll(path, sources[path]);
    }
    TFileRun run;
    run.AddFolder(dir.Path());
    TRunOptions options;
    options.Jobs = 3;
    options.SourceAction = TSourceAction::Delete;
    TReportView view(dir.Path());
    // Some files are done, several are part way when the stop comes.
    view.stopAfterChecks = 150;
    EXPECT_THROW(run.RunEncryption("pw", options, view), ERunStopped);
    EXPECT_FALSE(view.overlapped);
    std::size_t encrypted = 0;
    for (const auto& [path, bytes] : sources) {
        const TBytes now = ReadAll(path);
        if (now != bytes) {
            EXPECT_EQ(DecryptsTo(path, "pw"), bytes) << path;
            ++encrypted;
        }
    }
    EXPECT_GT(encrypted, 0u);
    EXPECT_LT(encrypted, sources.size());
    EXPECT_EQ(Snapshot(dir.Path()).size(), sources.size()) << "a partial output was left behind";
    // The end-of-run steps ran all the same.
    EXPECT_EQ(view.events.back(), "total 6/6");
}

TEST(OrderedWorkers, DoneStepsFollowTheOrderAddedWhateverFinishesFirst)
{
    for (const unsigned jobs : {1u, 3u}) {
        TOrderedWorkers pool(jobs);
        std::vector<int> order;
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        for (int i = 0; i < 60; ++i) {
            pool.Add(
                [&, i](unsigned) {
                    const int now = ++running;
                    most = std::max(most.load(), now);
                    // Early items take longest, so later ones finish first.
                    std::this_thread::sleep_for(std::chrono::microseconds(i < 10 ? 3000 - 300 * i : 50));
                    --running;
                },
                [&order, i] { order.push_back(i); });
        }
        pool.Drain();
        std::vector<int> expected(60);
        for (int i = 0; i < 60; ++i) {
            expected[static_cast<std::size_t>(i)] = i;
        }
        EXPECT_EQ(order, expected);
        EXPECT_EQ(most.load() > 1, jobs > 1) << "the items did not run at once";
    }
}

TEST(OrderedWorkers, AFailedWorkIsRaisedInItsTurnAndTheRestGoOn)
{
    TOrderedWorkers pool(2);
    std::vector<int> order;
    int raised = 0;
    const auto guarded = [&raised](const auto& step) {
        try {
            step();
        } catch (const std::runtime_error&) {
            ++raised;
        }
    };
    for (int i = 0; i < 5; ++i) {
        guarded([&] {
            pool.Add(
                [i](unsigned) {
                    if (i == 2) {
                        throw std::runtime_error("item 2");
                    }
                },
                [&order, i] { order.push_back(i); });
        });
    }
    // Whichever call raised it, the next one finds the rest.
    guarded([&] { pool.Drain(); });
    guarded([&] { pool.Drain(); });
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 3, 4}));
}
} // namespace
