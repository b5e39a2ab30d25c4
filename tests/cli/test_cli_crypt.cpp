// vellumox-cli encrypt, decrypt, info, algorithms, selftest: run as a process on real files.
#include "encryption/Algorithms.h"
#include "tests/support/Bytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

TProcessResult Cli(const std::vector<std::string>& args, const std::string& input = {})
{
    return RunProcess(VX_CLI_PATH, args, input);
}

class CliCrypt : public testing::Test
{
protected:
    void SetUp() override { WriteText(dir / "pw", "open sesame\n"); }
    TTempDir dir;
};

TEST_F(CliCrypt, RoundTripWithPasswordFromFileAndStandardInput)
{
    const TBytes plain = RandomBytes(100000, 1);
    WriteAll(dir / "data.bin", plain);
    const auto enc = Cli({"encrypt", "--password-file", dir / "pw", dir / "data.bin"});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(ReadAll(dir / "data.bin.enc").size(), plain.size() + 21);
    EXPECT_EQ(ReadAll(dir / "data.bin"), plain);

    // The line end is not part of the password, from a file or from standard input.
    const auto dec = Cli({"decrypt", "--password-file", "-", dir / "data.bin.enc"}, "open sesame\r\n");
    ASSERT_EQ(dec.exitCode, 0) << dec.err;
    EXPECT_EQ(ReadAll(dir / "data.bin.dec"), plain);
}

TEST_F(CliCrypt, EveryAlgorithmByIndexCaptionOrNameAtEveryLength)
{
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        SCOPED_TRACE(info.Caption);
        for (const std::string& name : {std::string(info.Caption), std::string(info.Algorithm)}) {
            WriteText(dir / "named", "by name");
            const auto enc = Cli({"encrypt", "--force", "-a", name, "--password-file", dir / "pw", dir / "named"});
            ASSERT_EQ(enc.exitCode, 0) << name << ": " << enc.err;
            EXPECT_EQ(ReadAll(dir / "named.enc")[4], '0' + info.Index % 10);
        }
        // Around both block lengths and the 8192-byte piece.
        std::vector<std::string> args = {"encrypt", "--force", "-a", std::to_string(info.Index), "--password-file",
                                         dir / "pw"};
        std::map<std::string, TBytes> files;
        for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 8191u, 8192u, 8193u, 100000u}) {
            const std::string path = dir / ("len" + std::to_string(length));
            files[path] = RandomBytes(length, static_cast<unsigned>(length + 31 * info.Index));
            WriteAll(path, files[path]);
            args.push_back(path);
        }
        const auto enc = Cli(args);
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
        std::vector<std::string> decryptArgs = {"decrypt", "--force", "--password-file", dir / "pw"};
        for (const auto& [path, plain] : files) {
            const TBytes file = ReadAll(path + ".enc");
            EXPECT_EQ(file.size(), plain.size() + 21);
            EXPECT_EQ(file[3], '0' + info.Index / 10);
            EXPECT_EQ(file[4], '0' + info.Index % 10);
            decryptArgs.push_back(path + ".enc");
        }
        const auto dec = Cli(decryptArgs);
        ASSERT_EQ(dec.exitCode, 0) << dec.err;
        for (const auto& [path, plain] : files) {
            EXPECT_EQ(ReadAll(path + ".dec"), plain) << path;
        }
    }
}

TEST_F(CliCrypt, SkippedFilesAreNamedAndGiveStatusOne)
{
    WriteText(dir / "a", "alpha");
    WriteText(dir / "b", "##$07 and sixteen more bytes");
    const auto enc = Cli({"encrypt", "--password-file", dir / "pw", dir / "a", dir / "b"});
    EXPECT_EQ(enc.exitCode, 1);
    EXPECT_NE(enc.err.find(dir / "b"), std::string::npos);
    EXPECT_NE(enc.err.find("already encrypted"), std::string::npos);
    EXPECT_TRUE(Exists(dir / "a.enc"));

    WriteText(dir / "wrong", "not it\n");
    const auto bad = Cli({"decrypt", "--password-file", dir / "wrong", dir / "a.enc", dir / "a"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("bad password"), std::string::npos);
    EXPECT_NE(bad.err.find("not encrypted"), std::string::npos);
    EXPECT_FALSE(Exists(dir / "a.dec"));
}

TEST_F(CliCrypt, UsageErrorsAndRefusedPasswordsGiveStatusTwo)
{
    WriteText(dir / "a", "alpha");
    EXPECT_EQ(Cli({}).exitCode, 2);
    EXPECT_EQ(Cli({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "--password-file", dir / "pw"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "--bogus", dir / "a"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "-a", "Enigma", "--password-file", dir / "pw", dir / "a"}).exitCode, 2);
    EXPECT_EQ(Cli({"encrypt", "-a"}).exitCode, 2);

    WriteText(dir / "blank", "\n");
    const auto blank = Cli({"encrypt", "--password-file", dir / "blank", dir / "a"});
    EXPECT_EQ(blank.exitCode, 2);
    EXPECT_NE(blank.err.find("The Password can't be blank!"), std::string::npos);
    EXPECT_FALSE(Exists(dir / "a.enc"));

    // No terminal and no password file: refuse rather than hang or read a password from a pipe.
    const auto noTty = Cli({"encrypt", dir / "a"}, "typed\ntyped\n");
    EXPECT_EQ(noTty.exitCode, 2);
    EXPECT_FALSE(Exists(dir / "a.enc"));
}

TEST_F(CliCrypt, AMissingPathIsSkippedWithItsReasonAndTheRestIsDone)
{
    WriteText(dir / "a", "alpha");
    WriteText(dir / "b", "beta");
    const auto missing =
        Cli({"encrypt", "--password-file", dir / "pw", dir / "a", dir / "nothing-here", dir / "b"});
    EXPECT_EQ(missing.exitCode, 1) << missing.err;
    EXPECT_NE(missing.err.find("skipped \"" + dir / "nothing-here" + "\": No such file or directory"),
              std::string::npos)
        << missing.err;
    EXPECT_TRUE(Exists(dir / "a.enc"));
    EXPECT_TRUE(Exists(dir / "b.enc")) << "the work stopped at the missing path";
}

TEST_F(CliCrypt, InfoTellsTheAlgorithmAndTheHeaderForm)
{
    WriteText(dir / "a", "alpha");
    Cli({"encrypt", "--password-file", dir / "pw", dir / "a"});
    const auto info = Cli({"info", "--password-file", dir / "pw", dir / "a", dir / "a.enc"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find(dir / "a" + ": not encrypted"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("algorithm 00 \"Blowfish (448)\"; header holds a password check"), std::string::npos)
        << info.out;

    // The older form: MD5(password) itself in the header.
    TBytes file = ReadAll(dir / "a.enc");
    const TBytes md5 = {0x54, 0xef, 0x36, 0xec, 0x71, 0x20, 0x1f, 0xdf,
                        0x9d, 0x14, 0x23, 0xfd, 0x26, 0xf9, 0x7f, 0x6b}; // MD5("open sesame"), by md5sum
    std::copy(md5.begin(), md5.end(), file.begin() + 5);
    WriteAll(dir / "old.enc", file);
    const auto old = Cli({"info", "--password-file", dir / "pw", dir / "old.enc"});
    EXPECT_NE(old.out.find("older header form"), std::string::npos) << old.out;
    EXPECT_NE(old.err.find("decrypt it without the password"), std::string::npos) << old.err;
    const auto dec = Cli({"decrypt", "--password-file", dir / "pw", dir / "old.enc"});
    EXPECT_EQ(dec.exitCode, 0) << dec.err;
    EXPECT_EQ(ReadAll(dir / "old.dec"), (TBytes{'a', 'l', 'p', 'h', 'a'}));
}

TEST(CliInfo, SelftestAlgorithmsAndVersion)
{
    const auto selftest = Cli({"selftest"});
    EXPECT_EQ(selftest.exitCode, 0) << selftest.out;
    EXPECT_NE(selftest.out.find("MD5       ok"), std::string::npos);
    EXPECT_EQ(selftest.out.find("FAILED"), std::string::npos);

    const auto algorithms = Cli({"algorithms"});
    EXPECT_EQ(algorithms.exitCode, 0);
    EXPECT_NE(algorithms.out.find("07  RC4 (2048)"), std::string::npos);
    EXPECT_NE(algorithms.out.find("09  Rijn Dael (AES 256)"), std::string::npos);

    EXPECT_EQ(Cli({"--version"}).out, "vellumox-cli 1.5.0.103\n");
}
} // namespace
