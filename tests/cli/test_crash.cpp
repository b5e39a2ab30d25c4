// In-place encryption killed with SIGKILL at random moments: whatever the moment, every file must
// still hold its plaintext, or a complete encryption of it, under its name or (while its source is
// being shredded) beside it as NAME.enc.
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using TClock = std::chrono::steady_clock;

struct TFileSet
{
    TTempDir dir;
    std::map<std::string, TBytes> contents;
};

void MakeFiles(TFileSet& set, std::mt19937& rng)
{
    std::uniform_int_distribution<std::size_t> size(0, 120000);
    for (int i = 0; i < 24; ++i) {
        TBytes data(size(rng));
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(rng());
        }
        const std::string path = set.dir / ("file" + std::to_string(i) + ".dat");
        WriteAll(path, data);
        set.contents[path] = std::move(data);
    }
}

pid_t StartEncryption(const TFileSet& set, const std::string& passwordFile, const std::string& action)
{
    std::vector<std::string> args = {VX_CLI_PATH, "encrypt", "--source", action, "--password-file", passwordFile};
    for (const auto& [path, data] : set.contents) {
        args.push_back(path);
    }
    const pid_t child = fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(VX_CLI_PATH, argv.data());
        _exit(127);
    }
    return child;
}

// Returns a description of every file whose plaintext can no longer be had.
std::vector<std::string> LostFiles(const TFileSet& set)
{
    std::vector<std::string> lost;
    for (const auto& [path, plain] : set.contents) {
        const std::string enc = path + ".enc";
        const bool intact = Exists(path) && ReadAll(path) == plain;
        if (intact) {
            continue; // a partial NAME.enc beside an intact source is allowed
        }
        if (Exists(path) && DecryptsTo(path, "crash test") == plain) {
            continue;
        }
        // Shred wipes the source before the output takes its name: then the complete output
        // stands beside it.
        if (Exists(enc) && DecryptsTo(enc, "crash test") == plain) {
            continue;
        }
        lost.push_back(path);
    }
    return lost;
}

TEST(CrashSafety, KilledInPlaceEncryptionLosesNoFile)
{
    TTempDir outside;
    const std::string passwordFile = outside / "pw";
    WriteText(passwordFile, "crash test\n");
    std::mt19937 rng(20261208);

    for (const std::string action : {"delete", "shred"}) {
        SCOPED_TRACE(action);
        // How long a whole run takes here, so the kills land all along it.
        TFileSet calibration;
        MakeFiles(calibration, rng);
        const auto start = TClock::now();
        int status = 0;
        waitpid(StartEncryption(calibration, passwordFile, action), &status, 0);
        const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - start);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_TRUE(LostFiles(calibration).empty());

        std::uniform_int_distribution<long> when(0, whole.count());
        for (int round = 0; round < 10; ++round) {
            SCOPED_TRACE(round);
            TFileSet set;
            MakeFiles(set, rng);
            const pid_t child = StartEncryption(set, passwordFile, action);
            std::this_thread::sleep_for(std::chrono::microseconds(when(rng)));
            ::kill(child, SIGKILL);
            waitpid(child, &status, 0);
            const std::vector<std::string> lost = LostFiles(set);
            EXPECT_TRUE(lost.empty()) << lost.size() << " file(s) lost, first: " << lost.front();
        }
    }
}
} // namespace
