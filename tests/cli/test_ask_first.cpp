// What the tool asks or refuses before it touches anything: a password that opens none of the
// encrypted files, and a shred that would overwrite data other hard links share.
#include "tests/support/Bytes.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TProcessResult Cli(const std::vector<std::string>& args, const std::string& input = {})
{
    return RunProcess(VX_CLI_PATH, args, input);
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

// Every entry below root with its bytes (folders and other entries as empty), to see that a run
// changed nothing at all.
std::map<std::string, TBytes> Snapshot(const std::string& root)
{
    std::map<std::string, TBytes> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        entries[path] = entry.is_regular_file() && !entry.is_symlink() ? ReadAll(path) : TBytes{};
    }
    return entries;
}

class PasswordFirst : public testing::Test
{
protected:
    void SetUp() override
    {
        WriteText(keys / "right", "right one\n");
        WriteText(keys / "other", "other one\n");
        WriteText(keys / "wrong", "wrong one\n");
        std::filesystem::create_directories(dir / "sub");
        WriteAll(dir / "a", RandomBytes(3000, 1));
        WriteAll(dir / "sub/b", RandomBytes(70000, 2));
        WriteAll(dir / "sub/c", RandomBytes(10, 3));
        EXPECT_EQ(Cli({"encrypt", "-r", "--source", "delete", "--password-file", keys / "right", dir.Path()}).exitCode,
                  0);
        WriteText(dir / "plain", "not encrypted");
    }
    TTempDir dir;
    TTempDir keys;
};

TEST_F(PasswordFirst, APasswordThatOpensNoneStopsOnceBeforeAnythingIsTouched)
{
    // A FIFO and a link in the list must neither hang the check nor count as encrypted files.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "a").c_str(), (keys / "link").c_str()), 0);
    const auto before = Snapshot(dir.Path());
    for (const char* source : {"leave", "delete", "shred"}) {
        SCOPED_TRACE(source);
        const auto fromFile = Cli({"decrypt", "-r", "--source", source, "--password-file", keys / "wrong", dir.Path(),
                                   keys / "link", dir / "pipe"});
        EXPECT_EQ(fromFile.exitCode, 1) << fromFile.err;
        EXPECT_EQ(Count(fromFile.err, "The password opens none of the 3 encrypted files."), 1u) << fromFile.err;
        EXPECT_EQ(Count(fromFile.err, "bad password"), 0u) << "the run went on: " << fromFile.err;
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
    const auto fromStdin = Cli({"decrypt", "--password-file", "-", dir / "sub/c"}, "wrong one\n");
    EXPECT_EQ(fromStdin.exitCode, 1) << fromStdin.err;
    EXPECT_EQ(Count(fromStdin.err, "The password does not open the encrypted file."), 1u) << fromStdin.err;
    EXPECT_EQ(Snapshot(dir.Path()), before);
}

TEST_F(PasswordFirst, APasswordThatOpensSomeGoesOnAndTheOthersAreSkipped)
{
    WriteAll(dir / "d", RandomBytes(500, 4));
    ASSERT_EQ(Cli({"encrypt", "--password-file", keys / "other", dir / "d"}).exitCode, 0);
    const auto dec = Cli({"decrypt", "-r", "--password-file", keys / "other", dir.Path()});
    EXPECT_EQ(dec.exitCode, 1) << dec.err;
    EXPECT_EQ(dec.err.find("opens none"), std::string::npos) << dec.err;
    EXPECT_NE(dec.err.find("\n3 skipped: wrong password\n"), std::string::npos) << dec.err;
    EXPECT_EQ(ReadAll(dir / "d.dec"), RandomBytes(500, 4)) << dec.err;
    EXPECT_FALSE(Exists(dir / "a.dec"));

    // Nothing encrypted to open: no complaint about the password, the run reports as before.
    const auto none = Cli({"decrypt", "--password-file", keys / "wrong", dir / "plain"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err.find("password"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("\n1 skipped: not encrypted\n"), std::string::npos) << none.err;
}

class HardLinks : public testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir / "tree/deep");
        WriteAll(dir / "tree/deep/shared", MarkedBytes(40000));
        ASSERT_EQ(::link((dir / "tree/deep/shared").c_str(), (dir / "other-name").c_str()), 0);
        WriteAll(dir / "tree/lone", MarkedBytes(100));
    }
    TTempDir dir;
};

TEST_F(HardLinks, WithoutATerminalALinkedFileIsSkippedUnlessForceComesWithYes)
{
    const auto skipped = Cli({"shred", "-r", "-y", "--method", "0", dir / "tree"});
    EXPECT_EQ(skipped.exitCode, 1) << skipped.err;
    EXPECT_NE(skipped.err.find("shared\" has 2 hard links: not shredded"), std::string::npos) << skipped.err;
    EXPECT_EQ(ReadAll(dir / "other-name"), MarkedBytes(40000));
    EXPECT_EQ(ReadAll(dir / "tree/deep/shared"), MarkedBytes(40000));
    EXPECT_FALSE(Exists(dir / "tree/lone")) << "the files without other names are shredded";
    EXPECT_TRUE(Exists(dir / "tree/deep")) << "the skipped file keeps its folder";

    const auto forced = Cli({"shred", "-r", "-y", "--force", "--method", "0", dir / "tree"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_FALSE(Exists(dir / "tree"));
    const TBytes left = ReadAll(dir / "other-name");
    EXPECT_EQ(left.size(), 40000u);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](std::uint8_t b) { return b == 0xFF; }))
        << "the other name shows the overwritten data";
}
} // namespace
