// The encrypted file format: header, output names, the password key and the single-file operations.
#pragma once

#include "crypto/VXsecmem.h"
#include "encryption/Algorithms.h"
#include "platform/FileRef.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Every encrypted file: "##$", the algorithm index as two ASCII digits, a 16-byte password field,
// then the body, exactly as long as the plaintext.
inline constexpr std::array<std::uint8_t, 3> kMarker = {'#', '#', '$'};
inline constexpr std::size_t kHeaderSize = 21;

using TDigest = std::array<std::uint8_t, 16>;

// The one rule that decides whether a file is encrypted, for the runs, `info` and the windows
// alike: the marker, two digits naming an algorithm 00 to 12, and room for the whole header.
// A file that has the marker but fails the rest is damaged: neither ours to decrypt nor to be
// mistaken for a result.
enum class THeaderKind
{
    Plain,
    Encrypted,
    Damaged,
};
// start: the file's first bytes, kHeaderSize of them or all of a shorter file.
THeaderKind ClassifyHeader(std::span<const std::uint8_t> start);
bool IsEncryptedHeader(std::span<const std::uint8_t> start);
// True when path names a regular file (a link to one counts) that begins with a valid header.
// Folders, FIFOs, devices, missing and unreadable files give false; raises nothing.
bool IsEncryptedFile(const std::string& path);

// The name an output wears until it is complete and flushed: NAME.vellumox-partial beside the
// output's NAME. It takes its final name in one rename; after a crash it can only be a leftover.
inline constexpr const char* kPartialSuffix = ".vellumox-partial";

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
    AlreadyEncrypted,
    // A file already has the output's name and the options keep it: nothing was written.
    OutputExists,
};

enum class TDecryptResult
{
    Decrypted,
    NotEncrypted,
    BadPassword,
    // The marker is there but the header names no algorithm or is cut short.
    Damaged,
    OutputExists,
};

struct TFileOptions
{
    // Flush the output to the disk before returning: needed before anything destroys the source.
    bool Durable = false;
    // The output only passes through its name on the way to the source's place: it then takes the
    // first free name of NAME, NAME.1, ... rather than replacing a file that already has NAME.
    bool Intermediate = false;
    // An existing file with the output's name (not intermediate) is replaced once the new output
    // is complete; when false the file is kept and the operation writes nothing.
    bool ReplaceExisting = true;
};

struct TEncryptOutcome
{
    TEncryptResult Result;
    std::string OutputPath;
    TFileIdentity OutputIdentity{};
};

struct TDecryptOutcome
{
    TDecryptResult Result;
    std::string OutputPath;
    int AlgorithmIndex = -1;
    THeaderForm Form = THeaderForm::Check;
    // The password bytes that matched the header; owned by the TPasswordKey.
    std::string_view KeyBytes;
    TFileIdentity OutputIdentity{};
};

// Both raise file and cipher errors; an output they created is removed before the error leaves
// them, and the source is never written. An existing file under the output's name is replaced
// only once the new output is complete (never when the output is intermediate).
TEncryptOutcome EncryptSingleFile(const std::string& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options = {});
TDecryptOutcome DecryptSingleFile(const std::string& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options = {});
// The same on an admitted file: the source is opened by name in its folder, never through a link,
// and only if it is still the admitted file; the output is created and renamed in that folder.
TEncryptOutcome EncryptSingleFile(const TFileRef& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options = {});
TDecryptOutcome DecryptSingleFile(const TFileRef& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options = {});

struct THeaderInfo
{
    THeaderKind Kind = THeaderKind::Plain;
    bool HasMarker = false;
    // False for a file with the marker whose header is cut short or names no algorithm 0 to 12.
    bool Valid = false;
    int AlgorithmIndex = -1;
    TDigest Stored{};
};

THeaderInfo ReadHeader(const std::string& path);
// The same for an admitted file: never through a link, and only a regular file is opened.
THeaderInfo ReadHeader(const TFileRef& file);
