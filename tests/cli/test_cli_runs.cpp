// vellumox-cli encrypt and decrypt as runs: in place, over folders, with the summary lines.
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <regex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TProcessResult Cli(const std::vector<std::string>& args)
{
    return RunProcess(VX_CLI_PATH, args);
}

class CliRuns : public testing::Test
{
protected:
    void SetUp() override
    {
        WriteText(outside / "pw", "in place\n");
        pw = outside / "pw";
    }
    TTempDir dir;
    TTempDir outside;
    std::string pw;
};

TEST_F(CliRuns, InPlaceRoundTripOverAFolderWithDatesAndHiddenMark)
{
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    WriteText(dir / "top.txt", "top");
    WriteText(dir / "sub/.dot", "hidden file");
    RestoreFileTimes(dir / "top.txt", TFileTimes{{1000000000, 5}, std::nullopt});
    const auto enc = Cli({"encrypt", "--source", "delete", "--keep-date", "--mark-hidden", "-r", "--password-file",
                          pw, dir.Path()});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(DecryptsTo(dir / "top.txt", "in place"), Text("top"));
    EXPECT_EQ(DecryptsTo(dir / "sub/.dot", "in place"), Text("hidden file"));
    EXPECT_FALSE(Exists(dir / "top.txt.enc"));
    EXPECT_EQ(ReadFileTimes(dir / "top.txt").lastWrite, (TFileTime{1000000000, 5}));
    EXPECT_NE(ReadFileAttributes(dir / "top.txt") & kAttrHidden, 0u);

    const auto dec = Cli({"decrypt", "--source", "shred", "--verify", "-r", "--password-file", pw, dir.Path()});
    ASSERT_EQ(dec.exitCode, 0) << dec.err;
    EXPECT_EQ(ReadAll(dir / "top.txt"), Text("top"));
    EXPECT_EQ(ReadAll(dir / "sub/.dot"), Text("hidden file"));
    EXPECT_EQ(ReadFileAttributes(dir / "top.txt") & kAttrHidden, 0u);
}

TEST_F(CliRuns, SkippedPathsAreNamedAndCountedOnStandardError)
{
    WriteText(dir / "plain", "plain");
    WriteText(dir / "done", "##$12 and sixteen more bytes");
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((outside / "pw").c_str(), (dir / "link").c_str()), 0);
    const auto enc = Cli({"encrypt", "--password-file", pw, dir / "plain", dir / "done", dir / "folder", dir / "link"});
    EXPECT_EQ(enc.exitCode, 1);
    EXPECT_NE(enc.err.find("skipped \"" + dir / "done" + "\": already encrypted"), std::string::npos) << enc.err;
    EXPECT_NE(enc.err.find("skipped \"" + dir / "folder" + "\": a folder (use -r"), std::string::npos) << enc.err;
    EXPECT_NE(enc.err.find("\n1 skipped: already encrypted\n"), std::string::npos) << enc.err;
    EXPECT_NE(enc.err.find("\n1 skipped: folder (use -r)\n"), std::string::npos) << enc.err;
    EXPECT_NE(enc.err.find("\n1 skipped: link, folder or special file\n"), std::string::npos) << enc.err;
    EXPECT_TRUE(Exists(dir / "plain.enc"));
    EXPECT_EQ(ReadAll(outside / "pw"), Text("in place\n")) << "the link was followed";

    WriteText(outside / "wrong", "wrong\n");
    WriteText(dir / "other", "other");
    ASSERT_EQ(Cli({"encrypt", "--password-file", outside / "wrong", dir / "other"}).exitCode, 0);
    const auto dec =
        Cli({"decrypt", "--password-file", outside / "wrong", dir / "plain.enc", dir / "plain", dir / "other.enc"});
    EXPECT_EQ(dec.exitCode, 1);
    EXPECT_NE(dec.err.find("Decrypted 1 file (26 bytes) in "), std::string::npos) << dec.err;
    EXPECT_NE(dec.err.find(" s\n1 skipped: wrong password\n1 skipped: not encrypted\n"), std::string::npos) << dec.err;
    EXPECT_FALSE(Exists(dir / "plain.dec"));
}

// A tree as people have them: some files done, one under another password, one held open, one
// with a broken header. The summary counts each kind once, in words, and nothing else.
TEST_F(CliRuns, TheSummarySaysWhatWasDoneAndWhyTheRestWasSkipped)
{
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    WriteAll(dir / "one", RandomBytes(1500, 1));
    WriteAll(dir / "sub/two", RandomBytes(500, 2));
    WriteAll(dir / "other", RandomBytes(100, 3));
    WriteAll(dir / "held", RandomBytes(100, 4));
    ASSERT_EQ(Cli({"encrypt", "--source", "delete", "--password-file", pw, dir / "one", dir / "sub/two", dir / "held"})
                  .exitCode,
              0);
    WriteText(outside / "other-pw", "someone else's\n");
    ASSERT_EQ(Cli({"encrypt", "--source", "delete", "--password-file", outside / "other-pw", dir / "other"}).exitCode,
              0);
    WriteText(dir / "plain", "never encrypted");
    WriteText(dir / "cut", "##$01abcde");
    const int fd = ::open((dir / "held").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);

    const auto dec = Cli({"decrypt", "--source", "delete", "-r", "--password-file", pw, dir.Path()});
    ::close(fd);
    EXPECT_EQ(dec.exitCode, 1) << dec.err;
    // 1,521 and 521 bytes as encrypted files.
    const std::regex summary("(^|\n)Decrypted 2 files \\(2\\.04 kB\\) in [0-9]+\\.[0-9] s\n"
                             "1 skipped: wrong password\n"
                             "1 skipped: not encrypted\n"
                             "1 skipped: in use\n"
                             "1 skipped: damaged header\n$");
    EXPECT_TRUE(std::regex_search(dec.err, summary)) << dec.err;
    EXPECT_EQ(dec.err.find("message log"), std::string::npos) << dec.err;
    EXPECT_EQ(dec.err.find("skiped"), std::string::npos) << dec.err;
    EXPECT_EQ(ReadAll(dir / "one"), RandomBytes(1500, 1));
    EXPECT_EQ(ReadAll(dir / "sub/two"), RandomBytes(500, 2));

    WriteText(dir / "single", "x");
    const auto one = Cli({"encrypt", "--password-file", pw, dir / "single"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(one.err.rfind("Encrypted 1 file (1 byte) in ", 0), 0u) << one.err;
}

TEST_F(CliRuns, QuietPrintsOnlyErrors)
{
    WriteText(dir / "a", "a");
    WriteText(dir / "b", "b");
    const auto enc = Cli({"encrypt", "-q", "--source", "delete", "--password-file", pw, dir / "a", dir / "b"});
    EXPECT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(enc.err, "");
    EXPECT_EQ(enc.out, "");
    EXPECT_EQ(DecryptsTo(dir / "a", "in place"), Text("a"));

    // A wrong password is an error worth a line; a file that was never encrypted is not.
    WriteText(outside / "wrong", "wrong\n");
    WriteText(dir / "plain", "plain");
    // The wrong password opens "other", so the run goes on past the early check.
    WriteText(dir / "other", "other");
    ASSERT_EQ(Cli({"encrypt", "-q", "--password-file", outside / "wrong", dir / "other"}).exitCode, 0);
    const auto dec =
        Cli({"decrypt", "--quiet", "--password-file", outside / "wrong", dir / "a", dir / "plain", dir / "other.enc"});
    EXPECT_EQ(dec.exitCode, 1);
    EXPECT_EQ(dec.err, "skipped \"" + dir / "a" + "\": bad password\n");

    TTempDir shredded;
    WriteText(shredded / "s", "secret");
    const auto shred = RunProcess(VX_CLI_PATH, {"shred", "-y", "-q", "--method", "0", shredded / "s"});
    EXPECT_EQ(shred.exitCode, 0) << shred.err;
    EXPECT_EQ(shred.err + shred.out, "");
    EXPECT_FALSE(Exists(shredded / "s"));
    const auto missing = RunProcess(VX_CLI_PATH, {"shred", "-y", "-q", shredded / "gone"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find(shredded / "gone"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("Shredded"), std::string::npos) << missing.err;
}

TEST_F(CliRuns, OptionFormsAndUsageErrors)
{
    WriteText(dir / "a", "a");
    EXPECT_EQ(Cli({"encrypt", "--source", "burn", "--password-file", pw, dir / "a"}).exitCode, 2);
    EXPECT_EQ(Cli({"decrypt", "--mark-hidden", "--password-file", pw, dir / "a"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "--verify=yes", "--password-file", pw, dir / "a"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "--password-file", pw, dir / "a", "--"}).exitCode, 0);
    EXPECT_TRUE(Exists(dir / "a.enc"));

    // Values joined to their option, and one-letter flags together.
    WriteText(dir / "b", "b");
    const auto joined = Cli({"encrypt", "--source=delete", "-a11", "--password-file=" + pw, dir / "b"});
    ASSERT_EQ(joined.exitCode, 0) << joined.err;
    EXPECT_FALSE(Exists(dir / "b.enc"));
    EXPECT_EQ(ReadAll(dir / "b")[4], '1');
    EXPECT_EQ(Cli({"decrypt", "-r", "--verify", "--source=delete", "--password-file", pw, dir / "b"}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir / "b"), Text("b"));
}
} // namespace
