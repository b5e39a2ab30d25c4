// The encrypted file format on real files: bytes against an independent implementation, naming,
// header handling, password forms, and what is left behind when something goes wrong.
#include "crypto/VXblockciphers.h"
#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/FileFormat.h"
#include "encryption/PasswordBytes.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#ifndef VX_TESTS_WITHOUT_ORACLES
#include <openssl/evp.h>
#include <openssl/provider.h>
#endif

#include <algorithm>
#include <filesystem>
#include <random>

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef VX_TESTS_WITHOUT_ORACLES
// No OpenSSL here: our own MD5 stands in, which the cipher tests pin to the published vectors.
TBytes OracleMd5(const TBytes& data)
{
    TVX_md5 hash;
    TBytes digest(16);
    hash.Start();
    hash.Feed(data);
    hash.Finish(digest);
    return digest;
}
#else
TBytes OracleMd5(const TBytes& data)
{
    TBytes digest(16);
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_md5(), nullptr);
    return digest;
}

// Blowfish in ECB from OpenSSL, and the file's chaining built on it here, independently of ours.
TBytes OracleBlowfishFile(const TBytes& passwordBytes, const TBytes& plain)
{
    const TBytes key = OracleMd5(passwordBytes);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_bf_ecb(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_set_key_length(ctx, 16);
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    auto e = [&](TBytes block) {
        int len = 0;
        TBytes out(8);
        EVP_EncryptUpdate(ctx, out.data(), &len, block.data(), 8);
        return out;
    };
    TBytes chain = e(TBytes(8, 0));
    TBytes body;
    const std::size_t whole = plain.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8) {
        for (std::size_t k = 0; k < 8; ++k) {
            chain[k] ^= plain[i + k];
        }
        chain = e(chain);
        body.insert(body.end(), chain.begin(), chain.end());
    }
    if (whole < plain.size()) {
        const TBytes t = e(chain);
        for (std::size_t k = 0; whole + k < plain.size(); ++k) {
            body.push_back(plain[whole + k] ^ t[k]);
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    TBytes file{'#', '#', '$', '0', '0'};
    const TBytes check = OracleMd5(OracleMd5(passwordBytes));
    file.insert(file.end(), check.begin(), check.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}
#endif

class FileFormat : public testing::Test
{
protected:
    TTempDir dir;
    TCipherSet ciphers;
};

#ifndef VX_TESTS_WITHOUT_ORACLES
TEST_F(FileFormat, BlowfishFilesMatchAnIndependentImplementationAtEveryLength)
{
    const TPasswordKey password("correct horse");
    // Past 1 MiB too: the file streams lend their buffers piece by piece and refill them there.
    for (std::size_t length : {0u, 1u, 5u, 7u, 8u, 9u, 8191u, 8192u, 8193u, 20000u, 1048576u + 8193u, 3145733u}) {
        SCOPED_TRACE(length);
        const std::string source = dir / ("plain" + std::to_string(length));
        const TBytes plain = RandomBytes(length, static_cast<unsigned>(length));
        WriteAll(source, plain);
        const TEncryptOutcome outcome = EncryptSingleFile(source, password, 0, ciphers);
        ASSERT_EQ(outcome.Result, TEncryptResult::Encrypted);
        EXPECT_EQ(outcome.OutputPath, source + ".enc");
        const TBytes file = ReadAll(outcome.OutputPath);
        EXPECT_EQ(file.size(), length + 21);
        EXPECT_EQ(ToHex(file), ToHex(OracleBlowfishFile(Text("correct horse"), plain)));
        EXPECT_EQ(ReadAll(source), plain) << "the source was touched";

        const TDecryptOutcome back = DecryptSingleFile(outcome.OutputPath, password, ciphers);
        ASSERT_EQ(back.Result, TDecryptResult::Decrypted);
        EXPECT_EQ(back.OutputPath, source + ".dec");
        EXPECT_EQ(ReadAll(back.OutputPath), plain);
    }
}
#endif

// What the file operations leave in memory: every block that held plaintext or a form of the
// password is wiped before it goes back, and the password's blocks were locked where allowed.
std::vector<std::pair<std::size_t, bool>> g_released; // size, locked
bool g_anyUnwiped = false;

void RecordRelease(std::span<const std::uint8_t> wiped, bool locked)
{
    g_released.emplace_back(wiped.size(), locked);
    g_anyUnwiped = g_anyUnwiped || std::any_of(wiped.begin(), wiped.end(), [](std::uint8_t b) { return b != 0; });
}

TEST_F(FileFormat, PlaintextBuffersAndPasswordFormsAreWipedWhenReleased)
{
    const std::size_t length = 300000;
    WriteAll(dir / "diary", RandomBytes(length, 21));
    g_released.clear();
    g_anyUnwiped = false;
    SetSecureReleaseHook(&RecordRelease);
    {
        // Typed decomposed: the password has several byte forms to try.
        const TPasswordKey password("cafe\xCC\x81 au lait");
        ASSERT_EQ(EncryptSingleFile(dir / "diary", password, 4, ciphers).Result, TEncryptResult::Encrypted);
        ASSERT_EQ(DecryptSingleFile(dir / "diary.enc", password, ciphers).Result, TDecryptResult::Decrypted);
    }
    SetSecureReleaseHook(nullptr);
    EXPECT_FALSE(g_anyUnwiped);
    // The reader and the writer of each operation held the whole file.
    const auto wholeFile = std::count_if(g_released.begin(), g_released.end(),
                                         [&](const auto& r) { return r.first >= length && !r.second; });
    EXPECT_GE(wholeFile, 4);
    // Each byte form with its key digest and header check.
    const auto locked = std::count_if(g_released.begin(), g_released.end(), [](const auto& r) { return r.second; });
#ifndef _WIN32
    if (mlock(&length, 1) == 0) {
        munlock(&length, 1);
        EXPECT_GE(locked, 3 * 3);
    }
#else
    (void)locked;
#endif
}

TEST_F(FileFormat, HeaderHoldsACheckThatIsNeitherTheKeyNorItsPlainDigest)
{
    WriteText(dir / "notes.txt", std::string(100, 'n'));
    const TPasswordKey password("s3cret");
    ASSERT_EQ(EncryptSingleFile(dir / "notes.txt", password, 0, ciphers).Result, TEncryptResult::Encrypted);
    const TBytes file = ReadAll(dir / "notes.txt.enc");
    EXPECT_EQ(TBytes(file.begin(), file.begin() + 5), (TBytes{0x23, 0x23, 0x24, 0x30, 0x30}));
    const TBytes key = OracleMd5(Text("s3cret"));
    EXPECT_EQ(TBytes(file.begin() + 5, file.begin() + 21), OracleMd5(key));
    EXPECT_EQ(std::search(file.begin(), file.end(), key.begin(), key.end()), file.end())
        << "the key is stored in the file";
}

TEST_F(FileFormat, OlderHeaderFormStillDecrypts)
{
    const TBytes plain = RandomBytes(1000, 11);
    WriteAll(dir / "old", plain);
    const TPasswordKey password("legacy");
    EncryptSingleFile(dir / "old", password, 0, ciphers);
    TBytes file = ReadAll(dir / "old.enc");
    const TBytes digest = OracleMd5(Text("legacy"));
    std::copy(digest.begin(), digest.end(), file.begin() + 5);
    WriteAll(dir / "old.enc", file);

    const TDecryptOutcome outcome = DecryptSingleFile(dir / "old.enc", password, ciphers);
    ASSERT_EQ(outcome.Result, TDecryptResult::Decrypted);
    EXPECT_EQ(outcome.Form, THeaderForm::Legacy);
    EXPECT_EQ(ReadAll(dir / "old.dec"), plain);
}

TEST_F(FileFormat, SkippedFilesWriteNothing)
{
    const TPasswordKey password("pw");
    // Already encrypted: the marker, two digits naming an algorithm and a whole header.
    WriteText(dir / "marked", "##$03 sixteen bytes: anything");
    EXPECT_EQ(EncryptSingleFile(dir / "marked", password, 3, ciphers).Result, TEncryptResult::AlreadyEncrypted);
    EXPECT_FALSE(Exists(dir / "marked.enc"));
    // The marker alone does not make a file encrypted: such a plain file can still be encrypted.
    WriteText(dir / "lookalike", "##$99 is a plain file that happens to begin so");
    EXPECT_EQ(EncryptSingleFile(dir / "lookalike", password, 3, ciphers).Result, TEncryptResult::Encrypted);
    // Shorter than the marker: encrypted like any file.
    WriteText(dir / "two", "##");
    EXPECT_EQ(EncryptSingleFile(dir / "two", password, 0, ciphers).Result, TEncryptResult::Encrypted);

    WriteText(dir / "plain.txt", "no marker");
    EXPECT_EQ(DecryptSingleFile(dir / "plain.txt", password, ciphers).Result, TDecryptResult::NotEncrypted);
    EXPECT_FALSE(Exists(dir / "plain.txt.dec"));

    EncryptSingleFile(dir / "plain.txt", password, 0, ciphers);
    const TPasswordKey wrong("pX");
    EXPECT_EQ(DecryptSingleFile(dir / "plain.txt.enc", wrong, ciphers).Result, TDecryptResult::BadPassword);
    EXPECT_FALSE(Exists(dir / "plain.txt.dec"));

    // Marker with a header cut short, or digits that name no algorithm.
    const TBytes check(password.Check().begin(), password.Check().end());
    for (const std::string& head : {std::string("##$"), std::string("##$0"), std::string("##$00abc"),
                                    std::string("##$99"), std::string("##$1x"), std::string("##$13")}) {
        SCOPED_TRACE(head);
        TBytes file(head.begin(), head.end());
        if (head.size() == 5) {
            file.insert(file.end(), check.begin(), check.end());
            file.insert(file.end(), 40, 0x55);
        }
        WriteAll(dir / "damaged", file);
        EXPECT_EQ(DecryptSingleFile(dir / "damaged", password, ciphers).Result, TDecryptResult::Damaged);
        EXPECT_EQ(ReadHeader(dir / "damaged").Kind, THeaderKind::Damaged);
        EXPECT_FALSE(IsEncryptedFile(dir / "damaged"));
        EXPECT_FALSE(Exists(dir / "damaged.dec"));
    }
}

TEST_F(FileFormat, EmptySourceAndAnIndexOutsideTheList)
{
    WriteText(dir / "empty", "");
    const TPasswordKey password("");
    EncryptSingleFile(dir / "empty", password, 0, ciphers);
    EXPECT_EQ(ReadAll(dir / "empty.enc").size(), 21u);
    ASSERT_EQ(DecryptSingleFile(dir / "empty.enc", password, ciphers).Result, TDecryptResult::Decrypted);
    EXPECT_TRUE(ReadAll(dir / "empty.dec").empty());

    // An index outside the list is refused before anything is written.
    EXPECT_THROW(EncryptSingleFile(dir / "empty", password, 13, ciphers), std::out_of_range);
}

TEST(OutputNaming, FollowsTheNameNotTheFolder)
{
    EXPECT_EQ(EncryptedOutputPath("/data/report.doc"), "/data/report.doc.enc");
    EXPECT_EQ(DecryptedOutputPath("/data/report.doc.enc"), "/data/report.doc.dec");
    EXPECT_EQ(DecryptedOutputPath("/data/report.doc"), "/data/report.doc.dec");
    EXPECT_EQ(DecryptedOutputPath("/data/REPORT.ENC"), "/data/REPORT.ENC.dec");
    EXPECT_EQ(DecryptedOutputPath("/data/a.enc.enc"), "/data/a.enc.dec");
    EXPECT_EQ(DecryptedOutputPath("/x.enc/file"), "/x.enc/file.dec");
    EXPECT_EQ(DecryptedOutputPath(".enc"), ".dec");
    EXPECT_EQ(FolderOfPath("/data/report.doc"), "/data/");
    EXPECT_EQ(NameOfPath("/data/report.doc"), "report.doc");
    EXPECT_EQ(NameOfPath("report.doc"), "report.doc");
}

TEST_F(FileFormat, AnEncryptedFileDecryptsUnderAnyName)
{
    const TBytes plain = RandomBytes(777, 12);
    WriteAll(dir / "a.enc", plain);
    const TPasswordKey password("names");
    EncryptSingleFile(dir / "a.enc", password, 0, ciphers);
    ASSERT_TRUE(Exists(dir / "a.enc.enc"));
    ASSERT_EQ(DecryptSingleFile(dir / "a.enc.enc", password, ciphers).Result, TDecryptResult::Decrypted);
    EXPECT_EQ(ReadAll(dir / "a.enc.dec"), plain);

    ::rename((dir / "a.enc.enc").c_str(), (dir / "photo.jpg").c_str());
    ASSERT_EQ(DecryptSingleFile(dir / "photo.jpg", password, ciphers).Result, TDecryptResult::Decrypted);
    EXPECT_EQ(ReadAll(dir / "photo.jpg.dec"), plain);
}

TEST(PasswordForms, TypedTextBecomesWindows1252OrUtf8AfterNfc)
{
    EXPECT_EQ(Text(std::string(PasswordBytes("abc").View())), Text("abc"));
    EXPECT_EQ(Text(std::string(PasswordBytes("\xE2\x82\xAC"
                                             "uro")
                                   .View())),
              (TBytes{0x80, 'u', 'r', 'o'}));
    EXPECT_EQ(Text(std::string(PasswordBytes("caf\xC3\xA9").View())), (TBytes{'c', 'a', 'f', 0xE9}));
    // Decomposed input is composed first, so it keys like the composed text.
    EXPECT_EQ(Text(std::string(PasswordBytes("cafe\xCC\x81").View())), (TBytes{'c', 'a', 'f', 0xE9}));
    // Outside Windows-1252: UTF-8 bytes.
    EXPECT_EQ(PasswordBytes("\xD0\xB6").View(), "\xD0\xB6");
    // Not UTF-8 at all (a password file in a legacy encoding): byte for byte.
    EXPECT_EQ(PasswordBytes("caf\xE9").View(), "caf\xE9");
}

TEST_F(FileFormat, DecryptionTriesTheOtherByteFormsOfTheSameText)
{
    const TBytes plain = RandomBytes(300, 13);
    // Typed "Ã©" has the Windows-1252 bytes C3 A9, which are the UTF-8 bytes of "é": a file made
    // elsewhere from "é" as UTF-8.
    struct TCase
    {
        const char* encryptedWith;
        const char* typed;
    };
    const TCase cases[] = {
        {"\xC3\x83\xC2\xA9", "\xC3\xA9"},             // UTF-8 NFC of "é"
        {"e\xC3\x8C\xC2\x81", "\xC3\xA9"},            // UTF-8 NFD of "é": 65 CC 81
        {"\xC3\xA9", "\xC3\xA9"},                     // Windows-1252, the normal form
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.encryptedWith);
        WriteAll(dir / "f", plain);
        EncryptSingleFile(dir / "f", TPasswordKey(c.encryptedWith), 0, ciphers);
        const TDecryptOutcome outcome = DecryptSingleFile(dir / "f.enc", TPasswordKey(c.typed), ciphers);
        ASSERT_EQ(outcome.Result, TDecryptResult::Decrypted);
        EXPECT_EQ(ReadAll(dir / "f.dec"), plain);
    }
}

TEST_F(FileFormat, AWriteErrorRemovesThePartialOutputAndKeepsTheSourceAndAnyOlderOutput)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a per-process file-size limit (setrlimit) to make writes fail; Windows has none";
#else
    const TBytes plain = RandomBytes(200000, 14);
    WriteAll(dir / "big", plain);
    WriteText(dir / "big.enc", "an older output, kept until a new one is complete");
    // A child process with a small file-size limit: writes past it fail like a full disk.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{50000, 50000};
        setrlimit(RLIMIT_FSIZE, &limit);
        TCipherSet childCiphers;
        try {
            EncryptSingleFile(dir / "big", TPasswordKey("full"), 0, childCiphers);
        } catch (const EFileError& e) {
            _exit(std::string(e.what()).find(dir / "big.enc") != std::string::npos ? 42 : 41);
        } catch (...) {
            _exit(40);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42) << "expected a file error naming the output";
    EXPECT_EQ(ReadAll(dir / "big.enc"), Text("an older output, kept until a new one is complete"));
    EXPECT_FALSE(Exists(dir / "big.enc.vellumox-partial"));
    EXPECT_EQ(ReadAll(dir / "big"), plain);

    // Without the limit the new output replaces the older one.
    EncryptSingleFile(dir / "big", TPasswordKey("full"), 0, ciphers);
    EXPECT_EQ(ReadAll(dir / "big.enc").size(), plain.size() + 21);
    EXPECT_FALSE(Exists(dir / "big.enc.vellumox-partial"));
#endif
}

TEST_F(FileFormat, RefusesToWriteOverTheSourceItself)
{
    WriteText(dir / "x", "precious");
    std::filesystem::create_hard_link(dir / "x", dir / "x.enc");
    EXPECT_THROW(EncryptSingleFile(dir / "x", TPasswordKey("pw"), 0, ciphers), std::runtime_error);
    EXPECT_EQ(ReadAll(dir / "x"), Text("precious"));
}

TEST_F(FileFormat, ClearErrorsForFoldersAndMissingFilesAndTheSourceProtectionIsKept)
{
    ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
    try {
        EncryptSingleFile(dir / "folder", TPasswordKey("pw"), 0, ciphers);
        FAIL() << "a folder was accepted";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos);
    }
    EXPECT_THROW(DecryptSingleFile(dir / "missing", TPasswordKey("pw"), ciphers), EFileError);

#ifndef _WIN32
    // Windows has no mode bits to carry over.
    WriteText(dir / "private", "mine");
    ::chmod((dir / "private").c_str(), 0600);
    EncryptSingleFile(dir / "private", TPasswordKey("pw"), 0, ciphers);
    struct stat st{};
    ::stat((dir / "private.enc").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}
} // namespace

namespace
{
// The body a file must have, built here from the cipher's single-block function (which the
// known-answer tests pin to published vectors) with the chaining written out independently:
// IV = E(0), CBC over whole blocks, the tail XORed with E(last chain block).
TBytes ExpectedBlockBody(TVX_blockcipher& cipher, const TBytes& plain)
{
    const auto n = static_cast<std::size_t>(cipher.ClassBlockSize() / 8);
    TBytes chain(n, 0);
    cipher.EncryptBlock(chain, chain);
    TBytes body;
    const std::size_t whole = plain.size() / n * n;
    for (std::size_t i = 0; i < whole; i += n) {
        for (std::size_t k = 0; k < n; ++k) {
            chain[k] ^= plain[i + k];
        }
        cipher.EncryptBlock(chain, chain);
        body.insert(body.end(), chain.begin(), chain.end());
    }
    if (whole < plain.size()) {
        cipher.EncryptBlock(chain, chain);
        for (std::size_t k = 0; whole + k < plain.size(); ++k) {
            body.push_back(plain[whole + k] ^ chain[k]);
        }
    }
    return body;
}

// Textbook RC4 whose two indices start again at every 8192-byte piece while the permutation
// carries on, as files are written.
TBytes ExpectedRc4Body(const TBytes& key, const TBytes& plain)
{
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) {
        s[i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[static_cast<std::size_t>(i) % key.size()]) & 255;
        std::swap(s[i], s[j]);
    }
    TBytes body(plain.size());
    for (std::size_t piece = 0; piece < plain.size(); piece += 8192) {
        int i = 0;
        int j = 0;
        for (std::size_t k = piece; k < std::min(plain.size(), piece + 8192); ++k) {
            i = (i + 1) & 255;
            j = (j + s[i]) & 255;
            std::swap(s[i], s[j]);
            body[k] = plain[k] ^ s[(s[i] + s[j]) & 255];
        }
    }
    return body;
}

class EveryAlgorithm : public testing::TestWithParam<int>
{
};

TEST_P(EveryAlgorithm, WritesTheExactBytesAtEveryLengthAndReadsThemBack)
{
    const TAlgorithmInfo& info = AlgorithmAt(GetParam());
    TTempDir dir;
    TCipherSet ciphers;
    const std::string password = "every length";
    const TPasswordKey key(password);
    const TBytes digest = OracleMd5(Text(password));
    auto reference = info.Create();
    auto* block = dynamic_cast<TVX_blockcipher*>(reference.get());
    const std::size_t n = block != nullptr ? static_cast<std::size_t>(block->ClassBlockSize() / 8) : 1;
    const auto keyBits = static_cast<std::uint32_t>(std::min(128, reference->ClassMaxKeySize()));
    reference->KeySetup(digest, keyBits);

    for (std::size_t length : {std::size_t{0}, std::size_t{1}, n - 1, n, n + 1, std::size_t{8191}, std::size_t{8192},
                               std::size_t{8193}, std::size_t{100000}}) {
        SCOPED_TRACE(length);
        const TBytes plain = RandomBytes(length, static_cast<unsigned>(length * 13 + 1));
        const std::string source = dir / ("f" + std::to_string(length));
        WriteAll(source, plain);
        ASSERT_EQ(EncryptSingleFile(source, key, info.Index, ciphers).Result, TEncryptResult::Encrypted);
        const TBytes file = ReadAll(source + ".enc");
        TBytes expected = {'#', '#', '$', static_cast<std::uint8_t>('0' + info.Index / 10),
                           static_cast<std::uint8_t>('0' + info.Index % 10)};
        const TBytes check = OracleMd5(digest);
        expected.insert(expected.end(), check.begin(), check.end());
        const TBytes body = block != nullptr ? ExpectedBlockBody(*block, plain) : ExpectedRc4Body(digest, plain);
        expected.insert(expected.end(), body.begin(), body.end());
        EXPECT_EQ(ToHex(file), ToHex(expected));

        ASSERT_EQ(DecryptSingleFile(source + ".enc", key, ciphers).Result, TDecryptResult::Decrypted);
        EXPECT_EQ(ReadAll(source + ".dec"), plain);
    }
}

INSTANTIATE_TEST_SUITE_P(AllIndexes, EveryAlgorithm, testing::Range(0, kAlgorithmCount),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(AlgorithmAt(info.param).Algorithm) == "3DES"
                                        ? std::string("TripleDES")
                                        : std::string(AlgorithmAt(info.param).Algorithm);
                         });
} // namespace
