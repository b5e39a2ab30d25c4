// vellumox-cli encrypt, decrypt, info, algorithms, selftest: run as a process on real files.
#include "encryption/Algorithms.h"
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

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

TEST_F(CliCrypt, TheNamesPeopleTypeAreListedAndAcceptedInAnyCase)
{
    const std::map<std::string, int> typed = {
        {"aes", 9},       {"RIJNDAEL", 9}, {"Cast", 2},        {"cast256", 2},  {"des", 12},
        {"3DES", 12},     {"triple-des", 12}, {"TripleDes", 12}, {"rc4", 7},    {"rc2", 6},
        {"RC6", 8},       {"blowfish", 0}, {"twofish", 1},     {"serpent", 11}, {"mars", 4},
        {"misty", 5},     {"misty1", 5},   {"ice", 3},         {"tea", 10},
    };
    const auto list = Cli({"algorithms"});
    ASSERT_EQ(list.exitCode, 0);
    // The last column of each line is what the shell completion offers.
    std::map<std::string, int> listed;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        const std::string names = line.substr(line.find_last_of(' ') + 1);
        std::istringstream split(names);
        for (std::string name; std::getline(split, name, ',');) {
            listed[name] = std::stoi(line.substr(0, 2));
        }
    }
    WriteText(dir / "named", "by name");
    for (const auto& [name, index] : typed) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_EQ(listed.count(lower), 1u) << lower << " is not listed:\n" << list.out;
        EXPECT_EQ(listed[lower], index) << lower;
        const auto enc = Cli({"encrypt", "--force", "-a", name, "--password-file", dir / "pw", dir / "named"});
        ASSERT_EQ(enc.exitCode, 0) << name << ": " << enc.err;
        const TBytes file = ReadAll(dir / "named.enc");
        EXPECT_EQ((file[3] - '0') * 10 + (file[4] - '0'), index) << name;
    }
    // Every listed name is accepted too.
    for (const auto& [name, index] : listed) {
        const auto enc = Cli({"encrypt", "--force", "-a", name, "--password-file", dir / "pw", dir / "named"});
        ASSERT_EQ(enc.exitCode, 0) << name << ": " << enc.err;
        EXPECT_EQ(ReadAll(dir / "named.enc")[4], '0' + index % 10) << name;
    }

    const auto unknown = Cli({"encrypt", "-a", "enigma", "--password-file", dir / "pw", dir / "named"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("'enigma'"), std::string::npos) << unknown.err;
    for (const auto& [name, index] : listed) {
        EXPECT_NE(unknown.err.find(name), std::string::npos) << name << " missing from: " << unknown.err;
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

    // A password that opens one of the files goes on, and the others are skipped one by one.
    WriteText(dir / "wrong", "not it\n");
    WriteText(dir / "c", "gamma");
    ASSERT_EQ(Cli({"encrypt", "--password-file", dir / "wrong", dir / "c"}).exitCode, 0);
    const auto bad = Cli({"decrypt", "--password-file", dir / "wrong", dir / "a.enc", dir / "a", dir / "c.enc"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(Exists(dir / "c.dec"));
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

TEST_F(CliCrypt, APasswordThatCannotBeHadIsAUsageErrorWithItsReason)
{
    WriteText(dir / "a", "alpha");
    const auto missing = Cli({"encrypt", "--password-file", dir / "no-such-file", dir / "a"});
    EXPECT_EQ(missing.exitCode, 2) << missing.err;
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;

    // A folder opens but cannot be read.
    std::filesystem::create_directory(dir / "folder");
    const auto unreadable = Cli({"decrypt", "--password-file", dir / "folder", dir / "a"});
    EXPECT_EQ(unreadable.exitCode, 2) << unreadable.err;
    EXPECT_NE(unreadable.err.find("Is a directory"), std::string::npos) << unreadable.err;

    const auto empty = Cli({"decrypt", "--password-file", "-", dir / "a"}, "");
    EXPECT_EQ(empty.exitCode, 2) << empty.err;
    EXPECT_NE(empty.err.find("standard input"), std::string::npos) << empty.err;

    const auto info = Cli({"info", "--password-file", dir / "no-such-file", dir / "a"});
    EXPECT_EQ(info.exitCode, 2) << info.err;
    EXPECT_FALSE(Exists(dir / "a.enc"));
}

TEST_F(CliCrypt, KeepDateRoundTripInPlaceKeepsTheDate)
{
    const TFileTime stamp{1234567890, 123456789};
    WriteText(dir / "doc", "dated");
    RestoreFileTimes(dir / "doc", TFileTimes{stamp, std::nullopt});
    const auto enc = Cli({"encrypt", "--source", "delete", "--keep-date", "--password-file", dir / "pw", dir / "doc"});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    EXPECT_EQ(ReadAll(dir / "doc")[0], '#');
    EXPECT_EQ(ReadFileTimes(dir / "doc").lastWrite, stamp);

    const auto dec = Cli({"decrypt", "--source", "delete", "--keep-date", "--password-file", dir / "pw", dir / "doc"});
    ASSERT_EQ(dec.exitCode, 0) << dec.err;
    EXPECT_EQ(ReadAll(dir / "doc"), (TBytes{'d', 'a', 't', 'e', 'd'}));
    EXPECT_EQ(ReadFileTimes(dir / "doc").lastWrite, stamp);

    // Without the option the plaintext is a new file with a new date.
    Cli({"encrypt", "--source", "shred", "--keep-date", "--password-file", dir / "pw", dir / "doc"});
    const auto plain = Cli({"decrypt", "--source", "shred", "--password-file", dir / "pw", dir / "doc"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(ReadFileTimes(dir / "doc").lastWrite, stamp);
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

TEST_F(CliCrypt, InfoGoesIntoFoldersOnlyWithRecursive)
{
    const std::string root = dir / "root";
    std::filesystem::create_directories(root + "/sub/deeper");
    WriteText(root + "/plain", "plain");
    WriteText(root + "/sub/deeper/secret", "secret");
    std::filesystem::create_symlink(dir / "pw", root + "/sub/link");
    ASSERT_EQ(Cli({"encrypt", "-a", "rc4", "--source", "delete", "--password-file", dir / "pw", root + "/sub/deeper/secret"})
                  .exitCode,
              0);

    const auto flat = Cli({"info", root, dir / "pw"});
    EXPECT_EQ(flat.exitCode, 1) << flat.err;
    EXPECT_NE(flat.err.find("skipped \"" + root + "\": a folder (use -r"), std::string::npos) << flat.err;
    EXPECT_NE(flat.out.find(dir / "pw" + ": not encrypted"), std::string::npos) << flat.out;
    EXPECT_EQ(flat.out.find(root + "/"), std::string::npos) << flat.out;

    const auto deep = Cli({"info", "-r", "--password-file", dir / "pw", root});
    EXPECT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_NE(deep.out.find(root + "/plain: not encrypted"), std::string::npos) << deep.out;
    EXPECT_NE(deep.out.find(root + "/sub/deeper/secret: encrypted, algorithm 07"), std::string::npos) << deep.out;
    EXPECT_EQ(deep.out.find("link"), std::string::npos) << "links are not followed: " << deep.out;
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
