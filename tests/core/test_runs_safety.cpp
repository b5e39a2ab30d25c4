// What a run must never do to the user's files: change a source's mode, keep a decryption of a
// source that shrank, leave a partial output when stopped, replace an existing file it was told to
// keep, or change anything while it only tests whether a file is free.
#include "encryption/Runs.h"
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using TBytes = std::vector<std::uint8_t>;

unsigned ModeOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Calls `action` once, at the first progress report of a run.
struct TFirstChunkView final : TRunView
{
    std::function<void()> action;
    bool stop = false;
    bool fired = false;
    int refreshes = 0;
    std::vector<std::pair<std::string, std::string>> skipped;

    void CurrentBar(std::int64_t position, std::int64_t) override
    {
        if (position > 0 && !fired) {
            fired = true;
            if (action) {
                action();
            }
        }
    }
    bool StopRequested() override { return stop && fired; }
    void Refresh() override { ++refreshes; }
    void FileSkipped(const std::string& path, const std::string& reason) override { skipped.emplace_back(path, reason); }
};

class RunSafety : public testing::Test
{
protected:
    std::string Make(const std::string& name, std::size_t size, unsigned seed)
    {
        const std::string path = dir / name;
        WriteAll(path, RandomBytes(size, seed));
        return path;
    }

    TTempDir dir;
    TFileRun run;
};
} // namespace

TEST_F(RunSafety, AnInPlaceRoundTripKeepsTheModeExactly)
{
    // A umask that would strip bits from a new file's mode if the output's mode were left to it.
    const mode_t oldMask = ::umask(077);
    for (const TSourceAction action : {TSourceAction::Delete, TSourceAction::Shred}) {
        for (const unsigned mode : {0444u, 0640u, 0604u}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(action)) + " mode " + std::to_string(mode));
            const std::string path = Make("f" + std::to_string(mode), 3000, mode);
            const TBytes plain = ReadAll(path);
            ASSERT_EQ(::chmod(path.c_str(), mode), 0);
            TRunOptions options;
            options.SourceAction = action;
            TRunView quiet;
            run.WorkList = {path};
            run.RunEncryption("pw", options, quiet);
            EXPECT_TRUE(run.InUseList.empty());
            EXPECT_EQ(DecryptsTo(path, "pw"), plain);
            EXPECT_EQ(ModeOf(path), mode);
            run.RunDecryption("pw", options, quiet);
            EXPECT_EQ(ReadAll(path), plain);
            EXPECT_EQ(ModeOf(path), mode);
        }
    }
    // With Leave the output beside the source takes the source's mode too.
    const std::string leave = Make("leave", 100, 1);
    ASSERT_EQ(::chmod(leave.c_str(), 0664), 0);
    TRunView quiet;
    run.WorkList = {leave};
    run.RunEncryption("pw", TRunOptions{}, quiet);
    EXPECT_EQ(ModeOf(leave + ".enc"), 0664u);
    EXPECT_EQ(ModeOf(leave), 0664u);
    ::umask(oldMask);
}

TEST_F(RunSafety, ASourceThatShrinksWhileItIsDecryptedIsAnErrorAndIsKept)
{
    // Larger than the reader's buffer, so that the cut is met after the first progress report.
    const std::string path = Make("big", std::size_t{3} << 20, 5);
    TRunView quiet;
    run.WorkList = {path};
    run.RunEncryption("pw", TRunOptions{}, quiet);
    const std::string encrypted = path + ".enc";
    const TBytes before = ReadAll(encrypted);

    TFirstChunkView view;
    view.action = [&] { ASSERT_EQ(::truncate(encrypted.c_str(), before.size() / 2), 0); };
    TRunOptions options;
    options.SourceAction = TSourceAction::Delete;
    run.WorkList = {encrypted};
    EXPECT_THROW(run.RunDecryption("pw", options, view), std::runtime_error);
    EXPECT_TRUE(view.fired);
    // The (cut) source is still there and nothing passes for its decryption.
    ASSERT_TRUE(Exists(encrypted));
    EXPECT_EQ(ReadAll(encrypted).size(), before.size() / 2);
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"big", "big.enc"}));
}

TEST_F(RunSafety, AStopRemovesThePartialOutputKeepsTheSourceAndEndsTheRun)
{
    const std::string big = Make("big", std::size_t{3} << 20, 6);
    const std::string later = Make("later", 100, 7);
    const TBytes plain = ReadAll(big);
    for (const TSourceAction action : {TSourceAction::Leave, TSourceAction::Delete, TSourceAction::Shred}) {
        SCOPED_TRACE(static_cast<int>(action));
        TFirstChunkView view;
        view.stop = true;
        TRunOptions options;
        options.SourceAction = action;
        run.WorkList = {big, later};
        EXPECT_THROW(run.RunEncryption("pw", options, view), ERunStopped);
        EXPECT_EQ(view.refreshes, 1) << "the end of the run was skipped";
        EXPECT_EQ(ReadAll(big), plain);
        EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"big", "later"}));
    }
}

TEST_F(RunSafety, AnExistingOutputIsKeptWhenAskedAndOneFilesErrorDoesNotEndTheRun)
{
    const std::string a = Make("a", 100, 8);
    const std::string b = Make("b", 100, 9);
    WriteText(a + ".enc", "the user's own file");
    TRunOptions options;
    options.ReplaceExisting = false;
    options.ContinueAfterError = true;
    TFirstChunkView view;
    run.WorkList = {a, dir / "vanished", b};
    run.RunEncryption("pw", options, view);
    EXPECT_EQ(ReadAll(a + ".enc"), Text("the user's own file"));
    EXPECT_EQ(run.OutputExistsList, std::vector<std::string>{a});
    EXPECT_EQ(run.FailedList, std::vector<std::string>{dir / "vanished"});
    EXPECT_EQ(DecryptsTo(b + ".enc", "pw"), ReadAll(b));
    ASSERT_EQ(view.skipped.size(), 2u);
    EXPECT_NE(view.skipped[0].second.find("already exists"), std::string::npos) << view.skipped[0].second;
    EXPECT_NE(view.skipped[1].second.find("No such file or directory"), std::string::npos) << view.skipped[1].second;

    // The same for a decryption's output; by default the older file is replaced once the new one
    // is complete.
    WriteText(b + ".dec", "kept");
    run.WorkList = {b + ".enc"};
    run.RunDecryption("pw", options, view);
    EXPECT_EQ(ReadAll(b + ".dec"), Text("kept"));
    run.RunDecryption("pw", TRunOptions{}, view);
    EXPECT_EQ(ReadAll(b + ".dec"), ReadAll(b));
}

TEST_F(RunSafety, AFileThatCannotBeReadIsSkippedWithTheReasonAndLeftAsItWas)
{
    const std::string secret = Make("secret", 100, 10);
    const std::string open = Make("open", 100, 11);
    ASSERT_EQ(::chmod(secret.c_str(), 0), 0);
    // Root reads anything: the run happens in a child that gave up that power.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        if (::syscall(SYS_capget, &header, caps) != 0) {
            _exit(40);
        }
        for (int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            caps[0].effective &= ~(1u << bit);
            caps[0].permitted &= ~(1u << bit);
        }
        if (::syscall(SYS_capset, &header, caps) != 0) {
            _exit(41);
        }
        TFileRun childRun;
        TFirstChunkView childView;
        TRunOptions options;
        options.SourceAction = TSourceAction::Delete;
        childRun.WorkList = {secret, open};
        childRun.RunEncryption("pw", options, childView);
        const bool ok = childRun.InUseList == std::vector<std::string>{secret} && childView.skipped.size() == 1 &&
                        childView.skipped[0].second == "cannot be read: Permission denied";
        _exit(ok ? 0 : 42);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "40/41: no capabilities to drop; 42: not skipped with its reason";
    EXPECT_EQ(ModeOf(secret), 0u) << "the test changed the file's permissions";
    EXPECT_EQ(DecryptsTo(open, "pw").has_value(), true);
}
