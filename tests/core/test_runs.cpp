// The encryption and decryption runs on real files: actions, skip lists and their summary lines,
// and the conditions under which nothing may be lost (full disk, read-only folder, vanished file,
// locked file, links).
#include "encryption/Runs.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct TRecordingView final : TRunView
{
    std::vector<std::pair<std::string, int>> log;
    std::vector<std::string> messages;
    std::vector<std::string> labels;
    std::vector<std::string> processed;
    std::vector<std::pair<std::int64_t, std::int64_t>> totals;
    int refreshes = 0;
    std::int64_t lastCurrentMax = -1;

    void CurrentLabel(const std::string& text) override { labels.push_back(text); }
    void ProcessedLabel(const std::string& text) override { processed.push_back(text); }
    void TotalBar(std::int64_t position, std::int64_t maximum) override { totals.emplace_back(position, maximum); }
    void CurrentBar(std::int64_t, std::int64_t maximum) override { lastCurrentMax = maximum; }
    void LogLine(const std::string& text, int image) override { log.emplace_back(text, image); }
    void Refresh() override { ++refreshes; }
    void FinalMessage(const std::string& text) override { messages.push_back(text); }
};

class Runs : public testing::Test
{
protected:
    std::string Make(const std::string& name, std::size_t size, unsigned seed)
    {
        const std::string path = dir / name;
        contents[path] = RandomBytes(size, seed);
        WriteAll(path, contents[path]);
        return path;
    }

    TTempDir dir;
    TFileRun run;
    TRecordingView view;
    std::map<std::string, TBytes> contents;
};

TEST_F(Runs, LeaveKeepsBothFilesAndTouchesNeitherDatesNorHiddenMark)
{
    const std::string a = Make("a.txt", 5000, 1);
    const TFileTimes before = ReadFileTimes(a);
    run.WorkList = {a};
    TRunOptions options;
    options.KeepDate = true;
    options.MarkHidden = true;
    run.RunEncryption("pw", options, view);
    EXPECT_EQ(ReadAll(a), contents[a]);
    EXPECT_EQ(ReadFileTimes(a).lastWrite, before.lastWrite);
    EXPECT_EQ(DecryptsTo(a + ".enc", "pw"), contents[a]);
    EXPECT_EQ(ReadFileAttributes(a + ".enc") & kAttrHidden, 0u);
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(view.messages.empty()) << "a run where every file was encrypted ends silently";
    EXPECT_EQ(view.processed, std::vector<std::string>{"Processed 1 of 1 files"});
    EXPECT_EQ(view.labels.back(), "Last File: a.txt");
    EXPECT_EQ(view.refreshes, 1);
}

TEST_F(Runs, DeleteAndShredEncryptInPlaceWithDatesAndHiddenMark)
{
#ifdef _WIN32
    const TFileTime stamp{1234567890, 123456700}; // Windows keeps times in steps of 100 ns
#else
    const TFileTime stamp{1234567890, 123456789};
#endif
    for (TSourceAction action : {TSourceAction::Delete, TSourceAction::Shred}) {
        SCOPED_TRACE(static_cast<int>(action));
        const std::string a = Make("doc" + std::to_string(static_cast<int>(action)), 40000, 2);
        RestoreFileTimes(a, TFileTimes{stamp, std::nullopt});
        run.WorkList = {a};
        TRunOptions options;
        options.SourceAction = action;
        options.KeepDate = true;
        options.MarkHidden = true;
        run.RunEncryption("in place", options, view);
        EXPECT_FALSE(Exists(a + ".enc"));
        EXPECT_EQ(DecryptsTo(a, "in place"), contents[a]);
        EXPECT_EQ(ReadFileTimes(a).lastWrite, stamp);
        EXPECT_NE(ReadFileAttributes(a) & kAttrHidden, 0u);

        // And back: the plaintext under the same name, no longer hidden.
        run.RunDecryption("in place", options, view);
        EXPECT_EQ(ReadAll(a), contents[a]);
        EXPECT_FALSE(Exists(a + ".dec"));
        EXPECT_EQ(ReadFileAttributes(a) & kAttrHidden, 0u);
    }
    // Only the files themselves remain (the hidden list was emptied and removed).
    std::size_t entries = 0;
    for (const auto& e : ListTree(dir.Path()).files) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

TEST_F(Runs, MixedEncryptionListGivesTheSummaryLinesInOrder)
{
    const std::string done = Make("done", 100, 3);
    WriteText(done, "##$04 sixteen bytes or more");
    const std::string fresh = Make("fresh", 100, 4);
    const std::string locked = Make("locked", 100, 5);
    TOtherHolder holder(locked, TOtherHolder::TKind::Exclusive);
    ASSERT_TRUE(holder.Held());
    run.WorkList = {locked, done, fresh};
    run.RunEncryption("pw", TRunOptions{}, view);
    holder.Release();

    EXPECT_EQ(run.InUseList, std::vector<std::string>{locked});
    EXPECT_EQ(run.AlreadyDoneList, std::vector<std::string>{done});
    EXPECT_FALSE(Exists(locked + ".enc"));
    EXPECT_FALSE(Exists(done + ".enc"));
    EXPECT_TRUE(Exists(fresh + ".enc"));
    const std::vector<std::pair<std::string, int>> expected = {
        {"  1 file(s) skiped because file(s) in use.", 1},
        {"  1 file(s) skiped because file(s) already encrypted.", 0},
    };
    EXPECT_EQ(view.log, expected);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Check message log for errors."});
    // The in-use file moves the total bar but not the labels: the next file shows its own place.
    EXPECT_EQ(view.totals[1], (std::pair<std::int64_t, std::int64_t>{1, 3}));
    EXPECT_EQ(view.processed, (std::vector<std::string>{"Processed 2 of 3 files", "Processed 3 of 3 files"}));
}

TEST_F(Runs, MixedDecryptionListWithTwoAlgorithmsAndAWrongPassword)
{
    const std::string one = Make("one", 9000, 6);
    const std::string two = Make("two", 9000, 7);
    const std::string other = Make("other", 100, 8);
    const std::string plain = Make("plain", 100, 9);
    TRunOptions options;
    options.SourceAction = TSourceAction::Delete;
    run.WorkList = {one};
    run.RunEncryption("same", options, view);
    const std::vector<int> available = [] {
        std::vector<int> out;
        for (const TAlgorithmInfo& info : AlgorithmTable()) {
            if (info.Create != nullptr) {
                out.push_back(info.Index);
            }
        }
        return out;
    }();
    options.AlgorithmIndex = available.back();
    run.WorkList = {two};
    run.RunEncryption("same", options, view);
    run.WorkList = {other};
    run.RunEncryption("different", options, view);

    TRecordingView decryptView;
    run.WorkList = {one, other, two, plain};
    run.RunDecryption("same", options, decryptView);
    EXPECT_EQ(ReadAll(one), contents[one]);
    EXPECT_EQ(ReadAll(two), contents[two]);
    EXPECT_EQ(run.BadPasswordList, std::vector<std::string>{other});
    EXPECT_EQ(run.AlreadyDoneList, std::vector<std::string>{plain});
    EXPECT_EQ(DecryptsTo(other, "different"), contents[other]) << "a file with a wrong password was touched";
    const std::vector<std::pair<std::string, int>> expected = {
        {"  1 file(s) skiped because bad password.", 1},
        {"  1 file(s) skiped because file(s) already decrypted.", 0},
    };
    EXPECT_EQ(decryptView.log, expected);
    EXPECT_EQ(decryptView.messages, std::vector<std::string>{"Check message log for errors."});

    // An empty password is tried like any other and fails the header test.
    TRecordingView emptyView;
    run.WorkList = {other};
    run.RunDecryption("", options, emptyView);
    EXPECT_EQ(run.BadPasswordList, std::vector<std::string>{other});
}

TEST_F(Runs, InPlaceNeverReplacesAFileThatHasTheOutputsName)
{
    // "a.enc" is the user's own file and in the list too: encrypting "a" in place must not use it
    // as the place for a's output.
    const std::string a = Make("a", 3000, 21);
    const std::string aEnc = Make("a.enc", 2000, 22);
    WriteText(dir / "a.enc.1", "also the user's");
    for (TSourceAction action : {TSourceAction::Delete, TSourceAction::Shred}) {
        run.WorkList = {a, aEnc};
        TRunOptions options;
        options.SourceAction = action;
        run.RunEncryption("pw", options, view);
        EXPECT_EQ(DecryptsTo(a, "pw"), contents[a]);
        EXPECT_EQ(DecryptsTo(aEnc, "pw"), contents[aEnc]);
        EXPECT_EQ(ReadAll(dir / "a.enc.1"), Text("also the user's"));
        run.RunDecryption("pw", options, view);
        EXPECT_EQ(ReadAll(a), contents[a]);
        EXPECT_EQ(ReadAll(aEnc), contents[aEnc]);
        EXPECT_FALSE(Exists(dir / "a.enc.2"));
        EXPECT_FALSE(Exists(dir / "a.dec"));
    }
}

TEST_F(Runs, AVanishedFileStopsTheRunThereAndLosesNothing)
{
    const std::string first = Make("first", 3000, 10);
    const std::string last = Make("last", 3000, 11);
    run.WorkList = {first, dir / "gone", last};
    TRunOptions options;
    options.SourceAction = TSourceAction::Delete;
    try {
        run.RunEncryption("pw", options, view);
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "gone"), std::string::npos);
    }
    EXPECT_EQ(DecryptsTo(first, "pw"), contents[first]);
    EXPECT_EQ(ReadAll(last), contents[last]);
    // The end-of-run steps still ran.
    EXPECT_EQ(view.refreshes, 1);
    EXPECT_EQ(view.totals.back(), (std::pair<std::int64_t, std::int64_t>{3, 3}));
}

TEST_F(Runs, LinksAndSpecialFilesAreNeverProcessedThrough)
{
    TTempDir outside;
    const std::string target = outside / "target";
    WriteText(target, "outside the tree");
    ASSERT_TRUE(std::filesystem::create_directory(dir / "tree"));
    if (!MakeSymlink(target, dir / "tree/link")) {
        GTEST_SKIP() << "this system makes no symbolic links";
    }
    std::vector<std::string> unsupported{dir / "tree/link"};
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "tree/fifo").c_str(), 0600), 0);
    unsupported.push_back(dir / "tree/fifo");
#endif
    const std::string inside = Make("tree/inside", 100, 12);
    ASSERT_TRUE(std::filesystem::create_directory(dir / "tree/.sub"));
    const std::string hidden = Make("tree/.sub/.hidden-file", 100, 13);

#ifndef _WIN32
    WriteText(dir / "tree/.hidden", "inside\n"); // attribute storage, not content
#endif
    const std::vector<std::string> files = ExpandFolder(dir / "tree");
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), (std::set<std::string>{inside, hidden}));

    run.WorkList = files;
    run.WorkList.insert(run.WorkList.end(), unsupported.begin(), unsupported.end());
    TRunOptions options;
    options.SourceAction = TSourceAction::Shred;
    run.RunEncryption("pw", options, view);
    const std::string text = "outside the tree";
    EXPECT_EQ(ReadAll(target), TBytes(text.begin(), text.end()));
    EXPECT_EQ(run.UnsupportedList, unsupported);
    EXPECT_EQ(DecryptsTo(inside, "pw"), contents[inside]);
    EXPECT_EQ(DecryptsTo(hidden, "pw"), contents[hidden]);
}

TEST_F(Runs, VerificationCatchesAnOutputThatDoesNotGiveItsSourceBack)
{
    const std::string a = Make("a", 20000, 14);
    const TPasswordKey key("pw");
    TCipherSet ciphers;
    const TEncryptOutcome outcome = EncryptSingleFile(a, key, 0, ciphers);
    EXPECT_NO_THROW(VerifyEncryption(a, outcome.OutputPath, key, 0, ciphers));
    const TBytes good = ReadAll(outcome.OutputPath);
    // One bit flipped.
    TBytes damaged = good;
    damaged[12345] ^= 1;
    WriteAll(outcome.OutputPath, damaged);
    EXPECT_THROW(VerifyEncryption(a, outcome.OutputPath, key, 0, ciphers), std::runtime_error);
    // Cut short, every byte it keeps right: at the end of a piece what is left decrypts exactly
    // like the start of the source, so only the length can tell.
    for (std::size_t kept : {std::size_t{8192}, std::size_t{16384}, good.size() - kHeaderSize - 1}) {
        SCOPED_TRACE(kept);
        WriteAll(outcome.OutputPath,
                 TBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + kept)));
        EXPECT_THROW(VerifyEncryption(a, outcome.OutputPath, key, 0, ciphers), std::runtime_error);
    }
    WriteAll(outcome.OutputPath, good);
    EXPECT_NO_THROW(VerifyEncryption(a, outcome.OutputPath, key, 0, ciphers));

    // Through a run with verification on, a good file goes all the way.
    run.WorkList = {a};
    TRunOptions options;
    options.SourceAction = TSourceAction::Delete;
    options.Verify = true;
    run.RunEncryption("pw", options, view);
    EXPECT_EQ(DecryptsTo(a, "pw"), contents[a]);
    run.RunDecryption("pw", options, view);
    EXPECT_EQ(ReadAll(a), contents[a]);
}

TEST_F(Runs, AWriteErrorMidFileRemovesThePartialOutputAndKeepsTheSource)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a per-process file-size limit (setrlimit) to make writes fail; Windows has none";
#else
    const std::string big = Make("big", 300000, 15);
    const std::string small = Make("small", 100, 16);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        TFileRun childRun;
        childRun.WorkList = {small, big};
        TRunOptions options;
        options.SourceAction = TSourceAction::Delete;
        TRunView quiet;
        try {
            childRun.RunEncryption("pw", options, quiet);
        } catch (const EFileError&) {
            _exit(42);
        } catch (...) {
            _exit(41);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42);
    EXPECT_EQ(ReadAll(big), contents[big]);
    EXPECT_FALSE(Exists(big + ".enc"));
    EXPECT_EQ(DecryptsTo(small, "pw"), contents[small]);
#endif
}

// A small file system of our own: a full disk and a read-only folder, for real.
class RunsOnSmallVolume : public Runs
{
protected:
    void SetUp() override
    {
#ifdef _WIN32
        GTEST_SKIP() << "mounts a small tmpfs, which Windows does not have";
#else
        mountPoint = dir / "volume";
        ::mkdir(mountPoint.c_str(), 0755);
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
        }
        mounted = true;
#endif
    }
    void TearDown() override
    {
#ifndef _WIN32
        if (mounted) {
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        }
#endif
    }

    std::string mountPoint;
    bool mounted = false;
};

#ifndef _WIN32
// Names created in a folder while it is watched: what a run wrote, however it names its outputs.
class TCreationWatch
{
public:
    explicit TCreationWatch(const std::string& folder) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        EXPECT_GE(m_fd, 0) << std::strerror(errno);
        EXPECT_GE(inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0) << std::strerror(errno);
    }
    ~TCreationWatch() { ::close(m_fd); }
    TCreationWatch(const TCreationWatch&) = delete;
    TCreationWatch& operator=(const TCreationWatch&) = delete;

    std::vector<std::string> Created()
    {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                names.emplace_back(event->len != 0 ? event->name : "");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int m_fd;
};

TEST_F(RunsOnSmallVolume, NoRoomForTheOutputStopsBeforeWritingAnything)
{
    const std::string fits = Make("volume/fits", 20000, 17);
    const std::string tooBig = Make("volume/too-big", 150000, 18);
    run.WorkList = {fits};
    TRunOptions options;
    options.SourceAction = TSourceAction::Delete;
    run.RunEncryption("pw", options, view);
    EXPECT_EQ(DecryptsTo(fits, "pw"), contents[fits]);

    // The volume now has room for neither the output nor a part of it worth writing: the check
    // must refuse before any file is created, not leave it to the write that fails.
    TCreationWatch watch(mountPoint);
    run.WorkList = {tooBig};
    try {
        run.RunEncryption("pw", options, view);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(tooBig), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("space"), std::string::npos) << e.what();
    }
    EXPECT_EQ(watch.Created(), std::vector<std::string>{}) << "an output was created before the space check";
    EXPECT_EQ(ReadAll(tooBig), contents[tooBig]);
    EXPECT_FALSE(Exists(tooBig + ".enc"));
}
#endif

TEST_F(RunsOnSmallVolume, FilesOnAReadOnlyVolumeCountAsInUse)
{
    const std::string a = Make("volume/a", 1000, 19);
#ifndef _WIN32
    ASSERT_EQ(::mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
#endif
    run.WorkList = {a};
    TRunOptions options;
    options.SourceAction = TSourceAction::Shred;
    run.RunEncryption("pw", options, view);
    EXPECT_EQ(run.InUseList, std::vector<std::string>{a});
    EXPECT_EQ(ReadAll(a), contents[a]);
}

TEST_F(Runs, AnUnwritableFolderStopsTheRunWithTheSourceIntact)
{
#ifdef _WIN32
    GTEST_SKIP() << "drops root's privileges and uses POSIX folder permissions";
#else
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
    const std::string a = Make("locked/a", 1000, 20);
    ASSERT_EQ(::chmod(a.c_str(), 0666), 0);
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
    // Root ignores folder permissions, so the run happens in a child without privileges.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            _exit(40);
        }
        TFileRun childRun;
        childRun.WorkList = {a};
        TRunOptions options;
        options.SourceAction = TSourceAction::Delete;
        TRunView quiet;
        try {
            childRun.RunEncryption("pw", options, quiet);
        } catch (const EFileError& e) {
            _exit(std::string(e.what()).find(a + ".enc") != std::string::npos ? 42 : 41);
        } catch (...) {
            _exit(43);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ::chmod((dir / "locked").c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42) << "expected an error naming the output that could not be created";
    EXPECT_EQ(ReadAll(a), contents[a]);
    EXPECT_FALSE(Exists(a + ".enc"));
#endif
}
} // namespace
