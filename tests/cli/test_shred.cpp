#include "tests/support/ChildProcess.h"
#include "tests/support/RunProcess.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
const std::string kCli = VX_CLI_PATH;

TProcessResult Shred(const std::vector<std::string>& args, const std::string& input = {})
{
    std::vector<std::string> words{"shred"};
    words.insert(words.end(), args.begin(), args.end());
    return RunProcess(kCli, words, input);
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

void MakeFolder(const std::string& path)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
}
} // namespace

TEST(ShredCli, ShredsFilesAndWarnsAboutOtherNames)
{
    TTempDir dir;
    WriteAll(dir / "a.txt", MarkedBytes(20000));
    WriteAll(dir / "b", MarkedBytes(10));
    ASSERT_EQ(::link((dir / "a.txt").c_str(), (dir / "keep").c_str()), 0);

    const TProcessResult r = Shred({"--method", "0", "-y", "--force", dir / "a.txt", dir / "b"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Exists(dir / "a.txt"));
    EXPECT_FALSE(Exists(dir / "b"));
    const auto left = ReadAll(dir / "keep");
    EXPECT_EQ(left.size(), 20000u);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(Contains(r.err, "had 1 other name(s)")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Shredded 2 files (20.0 kB) in ")) << r.err;
}

TEST(ShredCli, UsageErrorsAndMissingConfirmationTouchNothing)
{
    TTempDir dir;
    const std::string file = dir / "f";
    WriteAll(file, MarkedBytes(100));
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"-y"},
        {"--method", "5", "-y", file},
        {"--method=-1", "-y", file},
        {"--repeat", "x", "-y", file},
        {"--repeat", "0", "-y", file},
        {"-y", file, "--method"},
        {"--bogus", "-y", file},
        {"-yz", file},
        {file}, // no terminal to ask on, and no -y
    };
    for (const auto& args : wrong) {
        const TProcessResult r = Shred(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args) << "\n" << r.err;
        EXPECT_EQ(ReadAll(file), MarkedBytes(100)) << testing::PrintToString(args);
    }
    const TProcessResult help = Shred({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, "--method")) << help.out;
}

TEST(ShredCli, RecursiveShredsHiddenFilesAndNeverLeavesTheTree)
{
    TTempDir dir;
    TTempDir outside;
    WriteAll(outside / "precious", MarkedBytes(3000));
    const std::string root = dir / "root";
    MakeFolder(root);
    MakeFolder(root + "/.hidden-sub");
    MakeFolder(root + "/.hidden-sub/empty");
    WriteAll(root + "/.dotfile", MarkedBytes(70000));
    WriteAll(root + "/.hidden-sub/deep.doc", MarkedBytes(5));
    WriteText(root + "/.hidden", ".dotfile\n");
    ASSERT_EQ(::chmod((root + "/.dotfile").c_str(), 0400), 0);
    ASSERT_EQ(::symlink(outside.Path().c_str(), (root + "/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "precious").c_str(), (root + "/to-file").c_str()), 0);

    const TProcessResult r = Shred({"-ry", root + "/"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Exists(root)) << r.err;
    EXPECT_EQ(ReadAll(outside / "precious"), MarkedBytes(3000));
}

TEST(ShredCli, AFolderWithALockedFileStaysAndTheFailureIsListed)
{
    TTempDir dir;
    const std::string root = dir / "root";
    MakeFolder(root);
    WriteAll(root + "/free", MarkedBytes(100));
    WriteAll(root + "/held", MarkedBytes(100));
    const int fd = ::open((root + "/held").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);

    const TProcessResult r = Shred({"-r", "-y", root});
    ::close(fd);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, root + "/held\": it is locked by another program")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Shredded 1 file (100 bytes) in ")) << r.err;
    EXPECT_TRUE(Contains(r.err, " s\n1 skipped: failed\n")) << r.err;
    EXPECT_FALSE(Exists(root + "/free"));
    EXPECT_EQ(ReadAll(root + "/held"), MarkedBytes(100));

    // A folder without -r is a failure too, and is left alone.
    const TProcessResult plain = Shred({"-y", root});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_TRUE(Contains(plain.err, "use -r")) << plain.err;
    EXPECT_TRUE(Exists(root + "/held"));
}

TEST(ShredCli, SpecialFilesInAFolderAreNotOpenedAndKeepTheFolder)
{
    TTempDir dir;
    const std::string root = dir / "root";
    MakeFolder(root);
    ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0600), 0);
    WriteAll(root + "/file", MarkedBytes(10));

    const TProcessResult r = Shred({"-ry", root});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "pipe\" is not a regular file")) << r.err;
    EXPECT_FALSE(Exists(root + "/file"));
    EXPECT_TRUE(Exists(root + "/pipe"));
}

TEST(ShredCli, EveryEmptiedFolderGoesWhateverElseInTheTreeIsKept)
{
    TTempDir dir;
    const std::string root = dir / "root";
    for (const char* folder : {"", "/fifo", "/fifo/inner", "/held", "/gone", "/gone/deeper", "/later"}) {
        MakeFolder(root + folder);
    }
    ASSERT_EQ(::mkfifo((root + "/fifo/pipe").c_str(), 0600), 0);
    WriteAll(root + "/fifo/inner/f", MarkedBytes(10));
    WriteAll(root + "/held/h", MarkedBytes(10));
    WriteAll(root + "/gone/deeper/g", MarkedBytes(10));
    WriteAll(root + "/later/l", MarkedBytes(10));
    const int fd = ::open((root + "/held/h").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);

    const TProcessResult r = Shred({"-ry", root});
    ::close(fd);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(Exists(root + "/fifo/pipe"));
    EXPECT_TRUE(Exists(root + "/held/h"));
    EXPECT_FALSE(Exists(root + "/fifo/inner")) << r.err;
    EXPECT_FALSE(Exists(root + "/gone")) << r.err;
    EXPECT_FALSE(Exists(root + "/later")) << r.err;
    EXPECT_FALSE(Contains(r.err, "folder kept")) << "folders that hold kept files are no surprise: " << r.err;
}

TEST(ShredCli, CtrlCKeepsTheCurrentFileAndLeavesLaterOnesAlone)
{
    TTempDir dir;
    const std::size_t bigSize = std::size_t{64} << 20;
    WriteAll(dir / "first", MarkedBytes(1000));
    WriteAll(dir / "big", MarkedBytes(bigSize));
    WriteAll(dir / "last", MarkedBytes(1000));

    TChildProcess child(kCli, {"shred", "-y", "-j", "1", "--method", "4", dir / "first", dir / "big", dir / "last"},
                        dir / "stderr.txt");
    // Interrupt once the big file's first chunk has been overwritten.
    const auto original = MarkedBytes(16);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
        const int fd = ::open((dir / "big").c_str(), O_RDONLY | O_CLOEXEC);
        std::uint8_t head[16] = {};
        if (fd >= 0) {
            started = ::pread(fd, head, sizeof head, 0) == 16 && !std::equal(head, head + 16, original.begin());
            ::close(fd);
        }
        if (!started) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_TRUE(started) << "the wipe of the big file never began";
    child.Signal(SIGINT);
    const int status = child.Wait();
    const auto errBytes = ReadAll(dir / "stderr.txt");
    const std::string err(errBytes.begin(), errBytes.end());

    EXPECT_EQ(status, 128 + SIGINT) << err;
    EXPECT_TRUE(Contains(err, "Cancelled.")) << err;
    EXPECT_TRUE(Contains(err, "big\" was kept, partly overwritten")) << err;
    EXPECT_FALSE(Exists(dir / "first"));
    ASSERT_TRUE(Exists(dir / "big"));
    EXPECT_EQ(ReadAll(dir / "big").size(), bigSize);
    EXPECT_EQ(ReadAll(dir / "last"), MarkedBytes(1000));
}
