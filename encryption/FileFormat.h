// The encrypted file format: header, output names, the password key and the single-file operations.
#pragma once

#include "crypto/VXsecmem.h"
#include "encryption/Algorithms.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every encrypted file: "##$", the algorithm index as two ASCII digits, a 16-byte password field,
// then the body, exactly as long as the plaintext.
inline constexpr std::array<std::uint8_t, 3> kMarker = {'#', '#', '$'};
inline constexpr std::size_t kHeaderSize = 21;

using TDigest = std::array<std::uint8_t, 16>;

std::string EncryptedOutputPath(const std::string& source);
std::string DecryptedOutputPath(const std::string& source);

// Which of the two header forms matched. The older form stores MD5(password), which is also the
// key: such a file carries its own key. Files written now store MD5(MD5(password)) instead.
enum class THeaderForm
{
    Check,
    Legacy
};

// A password as the file operations use it, digested once per run: the byte forms to try (see
// PasswordCandidates), each with its key digest and its header check.
class TPasswordKey
{
public:
    explicit TPasswordKey(std::string_view typedUtf8);
    ~TPasswordKey();
    TPasswordKey(const TPasswordKey&) = delete;
    TPasswordKey& operator=(const TPasswordKey&) = delete;

    // The bytes a new file is keyed with.
    std::string_view Bytes() const { return m_candidates.front().bytes.View(); }
    // The 16 bytes a new file's header stores.
    std::span<const std::uint8_t> Check() const { return m_candidates.front().check; }

    struct TMatch
    {
        std::string_view bytes;
        THeaderForm form;
    };
    std::optional<TMatch> Match(std::span<const std::uint8_t> stored) const;

private:
    // Each candidate is its password bytes, MD5 of them (the key) and MD5 of that (the check),
    // all held where they are wiped and never copied.
    struct TCandidate
    {
        TSecureBuffer bytes;
        TSecureBuffer digest;
        TSecureBuffer check;
    };
    std::vector<TCandidate> m_candidates;
};

TDigest Md5Of(std::span<const std::uint8_t> data);

enum class TEncryptResult
{
    Encrypted,
    AlreadyEncrypted
};

enum class TDecryptResult
{
    Decrypted,
    NotEncrypted,
    BadPassword
};

struct TFileOptions
{
    // Flush the output to the disk before returning: needed before anything destroys the source.
    bool Durable = false;
    // The output only passes through its name on the way to the source's place: it then takes the
    // first free name of NAME, NAME.1, ... rather than replacing a file that already has NAME.
    bool Intermediate = false;
};

struct TEncryptOutcome
{
    TEncryptResult Result;
    std::string OutputPath;
};

struct TDecryptOutcome
{
    TDecryptResult Result;
    std::string OutputPath;
    int AlgorithmIndex = -1;
    THeaderForm Form = THeaderForm::Check;
    // The password bytes that matched the header; owned by the TPasswordKey.
    std::string_view KeyBytes;
};

// Both raise file and cipher errors; an output they created is removed before the error leaves
// them, and the source is never written. An existing file under the output's name is replaced
// only once the new output is complete (never when the output is intermediate).
TEncryptOutcome EncryptSingleFile(const std::string& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options = {});
TDecryptOutcome DecryptSingleFile(const std::string& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options = {});

struct THeaderInfo
{
    bool HasMarker = false;
    // False for a file with the marker whose header is cut short or names no algorithm 0 to 12.
    bool Valid = false;
    int AlgorithmIndex = -1;
    TDigest Stored{};
};

THeaderInfo ReadHeader(const std::string& path);
