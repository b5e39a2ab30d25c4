// The command line's run when it is interrupted or killed, when an output's name is taken, and
// when a header is damaged: nothing half-done may look finished, and nothing of the user's goes.
#include "tests/support/Bytes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

namespace
{
const std::string kCli = VX_CLI_PATH;
const std::string kPartial = ".vellumox-partial";

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class CliInterrupt : public testing::Test
{
protected:
    void SetUp() override
    {
        WriteText(keys / "pw", "stop me\n");
        // Large enough that the encryption is still going when the signal comes.
        big.resize(std::size_t{16} << 20);
        for (std::size_t i = 0; i < big.size(); ++i) {
            big[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
        }
        WriteAll(dir / "big", big);
        WriteAll(dir / "later", RandomBytes(1000, 4));
    }

    TTempDir keys;
    TTempDir dir;
    std::vector<std::uint8_t> big;
};
} // namespace

TEST_F(CliInterrupt, ASignalRemovesThePartialOutputKeepsTheSourceAndExitsWith128PlusItsNumber)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        TChildProcess child(kCli,
                            {"encrypt", "--source", "delete", "--password-file", keys / "pw", dir / "big", dir / "later"},
                            keys / "stderr.txt");
        ASSERT_TRUE(AppearsSoon(dir / ("big.enc" + kPartial))) << "the encryption never began";
        child.Signal(signal);
        const int status = child.Wait();
        const std::string err = Text(ReadAll(keys / "stderr.txt"));
        EXPECT_EQ(status, 128 + signal) << err;
        EXPECT_NE(err.find("Interrupted"), std::string::npos) << err;
        EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"big", "later"})) << err;
        EXPECT_EQ(ReadAll(dir / "big"), big);
    }
}

TEST_F(CliInterrupt, AKilledRunLeavesNoPartialOutputUnderAFinishedName)
{
    for (const std::string action : {"leave", "delete"}) {
        SCOPED_TRACE(action);
        TChildProcess child(kCli, {"encrypt", "--source", action, "--password-file", keys / "pw", dir / "big"});
        ASSERT_TRUE(AppearsSoon(dir / ("big.enc" + kPartial)));
        child.Signal(SIGKILL);
        child.Wait();
        // Only the source and the leftover that says what it is; "big.enc" is never a half file.
        EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"big", "big.enc" + kPartial, "later"}));
        EXPECT_EQ(ReadAll(dir / "big"), big);
        std::filesystem::remove(dir / ("big.enc" + kPartial));
    }
}

TEST(CliOutputs, AnExistingOutputIsSkippedWithItsReasonUnlessForced)
{
    TTempDir dir;
    WriteText(dir / "pw", "pw\n");
    WriteText(dir / "f", "plain");
    WriteText(dir / "f.enc", "x\n");
    const TProcessResult kept = RunProcess(kCli, {"encrypt", "--password-file", dir / "pw", dir / "f"});
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_NE(kept.err.find("skipped \"" + dir / "f" + "\": its output \"" + dir / "f.enc" + "\" already exists"),
              std::string::npos)
        << kept.err;
    EXPECT_EQ(Text(ReadAll(dir / "f.enc")), "x\n");

    const TProcessResult forced = RunProcess(kCli, {"encrypt", "--force", "--password-file", dir / "pw", dir / "f"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(DecryptsTo(dir / "f.enc", "pw"), ::Text("plain"));

    WriteText(dir / "f.dec", "mine");
    const TProcessResult dec = RunProcess(kCli, {"decrypt", "--password-file", dir / "pw", dir / "f.enc"});
    EXPECT_EQ(dec.exitCode, 1);
    EXPECT_NE(dec.err.find("already exists"), std::string::npos) << dec.err;
    EXPECT_EQ(Text(ReadAll(dir / "f.dec")), "mine");
    const TProcessResult decForced =
        RunProcess(kCli, {"decrypt", "--force", "--password-file", dir / "pw", dir / "f.enc"});
    EXPECT_EQ(decForced.exitCode, 0) << decForced.err;
    EXPECT_EQ(Text(ReadAll(dir / "f.dec")), "plain");
}

TEST(CliOutputs, OneRuleDecidesWhatIsEncryptedAndADamagedHeaderIsSaidToBe)
{
    TTempDir dir;
    WriteText(dir / "pw", "pw\n");
    // Begins with the marker but is no file of ours: a plain file that can be encrypted.
    WriteText(dir / "lookalike", "##$99 plain text that begins like a header");
    // A header cut short.
    WriteText(dir / "cut", "##$01abcde");

    const TProcessResult info = RunProcess(kCli, {"info", dir / "lookalike", dir / "cut"});
    EXPECT_NE(info.out.find(dir / "lookalike: damaged"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find(dir / "cut: damaged"), std::string::npos) << info.out;

    const TProcessResult dec = RunProcess(kCli, {"decrypt", "--password-file", dir / "pw", dir / "cut"});
    EXPECT_EQ(dec.exitCode, 1);
    EXPECT_NE(dec.err.find("skipped \"" + dir / "cut" + "\": damaged"), std::string::npos) << dec.err;
    EXPECT_NE(dec.err.find("\n1 skipped: damaged header\n"), std::string::npos) << dec.err;
    EXPECT_FALSE(Exists(dir / "cut.dec"));

    const TProcessResult enc = RunProcess(kCli, {"encrypt", "--password-file", dir / "pw", dir / "lookalike"});
    EXPECT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(DecryptsTo(dir / "lookalike.enc", "pw"), ::Text("##$99 plain text that begins like a header"));
    const TProcessResult back = RunProcess(kCli, {"info", dir / "lookalike.enc"});
    EXPECT_NE(back.out.find("encrypted, algorithm 00"), std::string::npos) << back.out;
}
