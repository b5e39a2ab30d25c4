// A folder run must stay inside the tree it was given even while someone swaps one of its
// subfolders for a link to a folder elsewhere: the walk and every file's work go through open
// folders, so a swap can only make a file of the tree be skipped, never a file outside be touched.
#include "tests/support/ChildProcess.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using TClock = std::chrono::steady_clock;
constexpr int kFilesPerFolder = 6;

std::string Name(int i)
{
    return "f" + std::to_string(i) + ".dat";
}

// Name -> size and a checksum of every entry of a folder ("link" for a link).
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_symlink()) {
            out[entry.path().filename().string()] = "link";
            continue;
        }
        const auto bytes = ReadAll(entry.path().string());
        std::uint64_t sum = 1469598103934665603ull;
        for (const std::uint8_t b : bytes) {
            sum = (sum ^ b) * 1099511628211ull;
        }
        out[entry.path().filename().string()] = std::to_string(bytes.size()) + " bytes, " + std::to_string(sum);
    }
    return out;
}

// Keeps swapping root/sub for a link to `outside` and back until told to stop; leaves the real
// folder in place.
class TSwapper
{
public:
    TSwapper(const std::string& root, const std::string& outside)
        : m_sub(root + "/sub"), m_parked(root + "/sub.parked"), m_outside(outside),
          m_thread([this] { Loop(); })
    {
    }
    ~TSwapper()
    {
        m_stop = true;
        m_thread.join();
    }
    TSwapper(const TSwapper&) = delete;
    TSwapper& operator=(const TSwapper&) = delete;

private:
    void Loop()
    {
        while (!m_stop) {
            if (std::rename(m_sub.c_str(), m_parked.c_str()) != 0) {
                std::this_thread::yield();
                continue;
            }
            if (::symlink(m_outside.c_str(), m_sub.c_str()) == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                ::unlink(m_sub.c_str());
            }
            std::rename(m_parked.c_str(), m_sub.c_str());
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

    std::string m_sub;
    std::string m_parked;
    std::string m_outside;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void RaceRounds(const std::vector<std::string>& command, const std::string& passwordFile)
{
    const auto deadline = TClock::now() + std::chrono::milliseconds(2500);
    int rounds = 0;
    while (rounds < 4 || (TClock::now() < deadline && rounds < 200)) {
        ++rounds;
        SCOPED_TRACE("round " + std::to_string(rounds));
        TTempDir tree;
        TTempDir outside;
        const std::string root = tree / "root";
        ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0700), 0);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            // The same names inside and outside: a run that follows the link finds its files there.
            WriteAll(root + "/" + Name(i), MarkedBytes(2000, 1));
            WriteAll(root + "/sub/" + Name(i), MarkedBytes(2000, 2));
            WriteAll(outside / Name(i), MarkedBytes(2000, 3));
        }
        const auto before = Snapshot(outside.Path());

        std::vector<std::string> args = command;
        if (!passwordFile.empty()) {
            args.insert(args.end(), {"--password-file", passwordFile});
        }
        args.push_back(root);
        int status = 0;
        {
            TChildProcess child(VX_CLI_PATH, args, tree / "stderr.txt");
            TSwapper swapper(root, outside.Path());
            status = child.Wait(std::chrono::seconds(60));
        }
        ASSERT_EQ(Snapshot(outside.Path()), before) << "a file outside the tree was changed";
        EXPECT_TRUE(status == 0 || status == 1) << "exit status " << status;
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}
} // namespace

TEST(TreeRace, ShredNeverLeavesTheTreeWhileASubfolderIsSwappedForALink)
{
    RaceRounds({"shred", "-r", "-y", "--method", "0"}, {});
}

TEST(TreeRace, InPlaceEncryptionWithShredNeverLeavesTheTree)
{
    TTempDir keys;
    WriteText(keys / "pw", "race\n");
    RaceRounds({"encrypt", "-r", "--source", "shred"}, keys / "pw");
}
