// vellumox-cli with -j: several files at once give the files, reports and statuses of one at a
// time, and a signal still leaves every file whole.
#include "encryption/FileFormat.h"
#include "tests/support/Bytes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const std::string kCli = VX_CLI_PATH;

// Every file below root by its relative path; a hidden-name list as its sorted names, since the
// order of its lines says only which file finished first.
std::map<std::string, TBytes> Snapshot(const std::string& root)
{
    std::map<std::string, TBytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string relative = std::filesystem::relative(entry.path(), root).generic_string();
        if (!entry.is_regular_file()) {
            files[relative] = Text(entry.is_directory() ? "folder" : "other");
            continue;
        }
        TBytes bytes = ReadAll(entry.path().string());
        if (entry.path().filename() == ".hidden") {
            std::set<std::string> names;
            std::istringstream lines(std::string(bytes.begin(), bytes.end()));
            for (std::string line; std::getline(lines, line);) {
                names.insert(line);
            }
            bytes.clear();
            for (const std::string& name : names) {
                bytes.insert(bytes.end(), name.begin(), name.end());
                bytes.push_back('\n');
            }
        }
        files[relative] = bytes;
    }
    return files;
}

// The run's folder and its time, which differ from run to run, left out of its report.
std::string Cut(std::string text, const std::string& root)
{
    for (std::size_t at; (at = text.find(root)) != std::string::npos;) {
        text.replace(at, root.size(), "ROOT");
    }
    static const std::regex kTime(R"( in [0-9:.]+ (s|min|h)\n)");
    return std::regex_replace(text, kTime, " in TIME\n");
}

struct TStep
{
    int exitCode;
    std::string out;
    std::string err;
    std::map<std::string, TBytes> tree;
    bool operator==(const TStep&) const = default;
};

// A mixed tree: plain files of many sizes, files encrypted with the password and with another one,
// a file held by another program, a FIFO, nested folders. Then encrypt in place, decrypt a few files
// beside themselves (one listed twice), decrypt in place and shred it all, with the given jobs.
std::vector<TStep> RunAll(const std::string& root, const std::string& keys, const std::string& jobs)
{
    std::filesystem::create_directories(root + "/sub/deeper");
    std::filesystem::create_directories(root + "/fifo");
    for (unsigned i = 0; i < 12; ++i) {
        const std::string folder = i % 3 == 0 ? "/" : i % 3 == 1 ? "/sub/" : "/sub/deeper/";
        WriteAll(root + folder + "p" + std::to_string(i), RandomBytes(i % 4 == 0 ? 700000 + i : 3000 * i + 1, i));
    }
    WriteAll(root + "/mine", RandomBytes(4000, 50));
    WriteAll(root + "/theirs", RandomBytes(4000, 51));
    WriteAll(root + "/sub/held", RandomBytes(4000, 52));
    EXPECT_EQ(::mkfifo((root + "/fifo/pipe").c_str(), 0600), 0);
    EXPECT_EQ(RunProcess(kCli, {"encrypt", "--source", "delete", "--password-file", keys + "/pw", root + "/mine"})
                  .exitCode,
              0);
    EXPECT_EQ(
        RunProcess(kCli, {"encrypt", "--source", "delete", "--password-file", keys + "/other", root + "/theirs"})
            .exitCode,
        0);

    const int held = ::open((root + "/sub/held").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
    std::vector<TStep> steps;
    const auto step = [&](const std::vector<std::string>& args) {
        std::vector<std::string> words = args;
        words.insert(words.begin() + 1, {"-j", jobs});
        const TProcessResult r = RunProcess(kCli, words);
        steps.push_back({r.exitCode, Cut(r.out, root), Cut(r.err, root), Snapshot(root)});
    };
    const std::string pw = keys + "/pw";
    step({"encrypt", "-r", "--source", "delete", "--mark-hidden", "--keep-date", "--password-file", pw, root});
    // The older header form stores MD5 of the password; its note comes only after the whole file, so
    // the next file's skip is ready first.
    TBytes legacy = ReadAll(root + "/p0");
    const TDigest key = Md5Of(Text("jobs"));
    std::copy(key.begin(), key.end(), legacy.begin() + 5);
    WriteAll(root + "/p0", legacy);
    step({"decrypt", "--password-file", pw, root + "/p0", root + "/theirs", root + "/p0", root + "/sub/p1"});
    step({"decrypt", "-r", "--source", "shred", "--verify", "--password-file", pw, root});
    step({"shred", "-r", "-y", root});
    ::close(held);
    return steps;
}

TEST(CliJobs, TwoJobsGiveTheFilesReportsAndStatusesOfOne)
{
    TTempDir dir;
    TTempDir keys;
    WriteText(keys / "pw", "jobs\n");
    WriteText(keys / "other", "not it\n");
    const std::vector<TStep> serial = RunAll(dir / "serial", keys.Path(), "1");
    const std::vector<TStep> parallel = RunAll(dir / "parallel", keys.Path(), "2");
    ASSERT_EQ(parallel.size(), serial.size());
    for (std::size_t i = 0; i < serial.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(parallel[i].exitCode, serial[i].exitCode) << parallel[i].err;
        EXPECT_EQ(parallel[i].out, serial[i].out);
        EXPECT_EQ(parallel[i].err, serial[i].err);
        EXPECT_TRUE(parallel[i].tree == serial[i].tree);
    }
    // What the serial steps did, so that equal is also right: the locked file and the other
    // password's file were skipped, the rest came back, and shred kept only what it could not take.
    EXPECT_EQ(serial[0].exitCode, 1);
    EXPECT_NE(serial[0].err.find("\n1 skipped: in use\n"), std::string::npos) << serial[0].err;
    EXPECT_NE(serial[1].err.find("skipped \"ROOT/p0\": its output \"ROOT/p0.dec\" already exists"), std::string::npos)
        << serial[1].err;
    EXPECT_EQ(serial[2].tree.at("sub/p4"), RandomBytes(700004, 4));
    EXPECT_NE(serial[2].err.find("\n1 skipped: wrong password\n"), std::string::npos) << serial[2].err;
    EXPECT_EQ(serial[3].exitCode, 1);
    EXPECT_EQ(serial[3].tree.size(), 4u) << "sub, sub/held, fifo, fifo/pipe";
}

TEST(CliJobs, ASignalWhileTwoFilesAreEncryptedKeepsBothSourcesAndLeavesNoPartialOutput)
{
    TTempDir dir;
    TTempDir keys;
    WriteText(keys / "pw", "stop us\n");
    const TBytes big = RandomBytes(std::size_t{24} << 20, 9);
    for (const char* name : {"a", "b", "c"}) {
        WriteAll(dir / name, big);
    }
    TChildProcess child(kCli,
                        {"encrypt", "-j", "2", "--source", "delete", "--password-file", keys / "pw", dir / "a",
                         dir / "b", dir / "c"},
                        keys / "stderr.txt");
    ASSERT_TRUE(AppearsSoon(dir / "a.enc.vellumox-partial") && AppearsSoon(dir / "b.enc.vellumox-partial"))
        << "the two encryptions never ran at once";
    child.Signal(SIGINT);
    const int status = child.Wait();
    const TBytes errBytes = ReadAll(keys / "stderr.txt");
    const std::string err(errBytes.begin(), errBytes.end());
    EXPECT_EQ(status, 128 + SIGINT) << err;
    EXPECT_NE(err.find("Interrupted"), std::string::npos) << err;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"a", "b", "c"})) << err;
    for (const char* name : {"a", "b", "c"}) {
        EXPECT_EQ(ReadAll(dir / name), big) << name;
    }
}

TEST(CliJobs, CtrlCWhileTwoFilesAreShreddedKeepsBothAndSaysSo)
{
    TTempDir dir;
    const std::size_t size = std::size_t{48} << 20;
    for (const char* name : {"a", "b"}) {
        WriteAll(dir / name, MarkedBytes(size));
    }
    TChildProcess child(kCli, {"shred", "-y", "-j", "2", "--method", "4", dir / "a", dir / "b"}, dir / "stderr.txt");
    // Interrupt once both files' first chunk has been overwritten.
    const auto original = MarkedBytes(16);
    const auto begun = [&original](const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::uint8_t head[16] = {};
        const bool changed = fd >= 0 && ::pread(fd, head, sizeof head, 0) == 16 &&
                             !std::equal(head, head + 16, original.begin());
        if (fd >= 0) {
            ::close(fd);
        }
        return changed;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(begun(dir / "a") && begun(dir / "b")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(begun(dir / "a") && begun(dir / "b")) << "the two wipes never ran at once";
    child.Signal(SIGINT);
    const int status = child.Wait();
    const TBytes errBytes = ReadAll(dir / "stderr.txt");
    const std::string err(errBytes.begin(), errBytes.end());
    EXPECT_EQ(status, 128 + SIGINT) << err;
    for (const char* name : {"a", "b"}) {
        EXPECT_NE(err.find(std::string(name) + "\" was kept, partly overwritten"), std::string::npos) << err;
        ASSERT_TRUE(Exists(dir / name));
        EXPECT_EQ(ReadAll(dir / name).size(), size);
    }
}
} // namespace

namespace
{
TEST(CliJobs, AFolderOfHiddenFilesIsShreddedAsOneAtATimeWould)
{
    TTempDir dir;
    TTempDir keys;
    WriteText(keys / "pw", "hide\n");
    std::vector<TProcessResult> results;
    for (const std::string jobs : {"1", "3"}) {
        const std::string root = dir / ("root" + jobs);
        std::filesystem::create_directories(root + "/inner");
        for (int i = 0; i < 24; ++i) {
            WriteAll(root + (i % 2 == 0 ? "/h" : "/inner/h") + std::to_string(i), RandomBytes(2000, 400 + i));
        }
        const TProcessResult hide = RunProcess(
            kCli, {"encrypt", "-r", "--source", "delete", "--mark-hidden", "--password-file", keys / "pw", root});
        ASSERT_EQ(hide.exitCode, 0) << hide.err;
        ASSERT_TRUE(Exists(root + "/.hidden") && Exists(root + "/inner/.hidden"));
        // Each wipe clears its file's line from the list, which goes with its last line; the list
        // itself must not be wiped while another file of its folder still edits it.
        results.push_back(RunProcess(kCli, {"shred", "-r", "-y", "-j", jobs, root}));
        EXPECT_EQ(results.back().exitCode, 0) << results.back().err;
        EXPECT_FALSE(Exists(root)) << results.back().err;
    }
    EXPECT_EQ(results[1].out, results[0].out);
}
} // namespace
