// The encrypted file format: header, output names, the password key and the single-file operations.
#include "encryption/FileFormat.h"

#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/PasswordBytes.h"
#include "platform/FileStream.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace {
// Parses the two ASCII digits; -1 unless they read as 00 to 12.
int ParseIndex(std::uint8_t tens, std::uint8_t units)
{
    if (tens < '0' || tens > '9' || units < '0' || units > '9') {
        return -1;
    }
    const int index = (tens - '0') * 10 + (units - '0');
    return index < kAlgorithmCount ? index : -1;
}

bool AlreadyExists(const EFileError& e)
{
#ifdef _WIN32
    return e.SystemError() == 80 || e.SystemError() == 183; // ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS
#else
    return e.SystemError() == EEXIST;
#endif
}

// The output of one file operation. It is written under a name that held no file before, so that
// no existing file is cut short: the final name itself for an intermediate output (the first free
// one of NAME, NAME.1, NAME.2, ...), or a ".part" name beside it that replaces NAME only when the
// new file is complete. Until it is committed, the output is removed again on any error, so a
// half-written file never passes for a result.
class TOutputFile
{
public:
    TOutputFile(const std::string& source, const std::string& path, unsigned permissions, bool intermediate)
        : m_finalPath(path)
    {
        if (!intermediate && IsSameFile(source, path)) {
            throw std::runtime_error("The output \"" + path + "\" is the source file itself; nothing was written.");
        }
        for (int attempt = 0; !m_writer; ++attempt) {
            m_path = intermediate ? path : path + ".part";
            if (attempt != 0) {
                m_path += '.';
                m_path += std::to_string(attempt);
            }
            try {
                m_writer.emplace(m_path, TCreateMode::CreateNew, permissions);
            } catch (const EFileError& e) {
                if (!AlreadyExists(e) || attempt == 999) {
                    throw;
                }
            }
        }
        if (intermediate) {
            m_finalPath = m_path;
        }
    }
    ~TOutputFile()
    {
        if (!m_committed) {
            m_writer.reset();
            RemoveQuietly(m_path);
        }
    }
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    TFileWriter& Writer() { return *m_writer; }
    const std::string& FinalPath() const { return m_finalPath; }

    void Commit(bool durable)
    {
        if (durable) {
            m_writer->Sync();
        }
        m_writer->Close();
        if (m_path != m_finalPath) {
            RenameFile(m_path, m_finalPath, TRenameMode::Replace);
        }
        m_committed = true;
    }

private:
    std::string m_path;
    std::string m_finalPath;
    std::optional<TFileWriter> m_writer;
    bool m_committed = false;
};

class TWipeCipher
{
public:
    explicit TWipeCipher(TVX_cipher& cipher) : m_cipher(cipher) {}
    ~TWipeCipher() { m_cipher.Wipe(); }
    TWipeCipher(const TWipeCipher&) = delete;
    TWipeCipher& operator=(const TWipeCipher&) = delete;

private:
    TVX_cipher& m_cipher;
};
} // namespace

std::string EncryptedOutputPath(const std::string& source)
{
    return source + ".enc";
}

std::string DecryptedOutputPath(const std::string& source)
{
    // Case-sensitive on purpose: "REPORT.ENC" is not an output of ours and becomes "REPORT.ENC.dec".
    if (ExtensionOfPath(source) == ".enc") {
        return source.substr(0, source.size() - 4) + ".dec";
    }
    return source + ".dec";
}

TDigest Md5Of(std::span<const std::uint8_t> data)
{
    TVX_md5 hash;
    TDigest digest{};
    hash.Start();
    hash.Feed(data);
    hash.Finish(digest);
    return digest;
}

TPasswordKey::TPasswordKey(std::string_view typedUtf8)
{
    auto md5Into = [](std::span<const std::uint8_t> data, TSecureBuffer& digest) {
        TVX_md5 hash;
        hash.Start();
        hash.Feed(data);
        hash.Finish(digest);
    };
    std::vector<TSecureBuffer> candidates = PasswordCandidates(typedUtf8);
    m_candidates.reserve(candidates.size());
    for (TSecureBuffer& bytes : candidates) {
        TCandidate candidate{std::move(bytes), TSecureBuffer(16), TSecureBuffer(16)};
        md5Into(candidate.bytes, candidate.digest);
        md5Into(candidate.digest, candidate.check);
        m_candidates.push_back(std::move(candidate));
    }
}

// The candidates wipe themselves.
TPasswordKey::~TPasswordKey() = default;

std::optional<TPasswordKey::TMatch> TPasswordKey::Match(std::span<const std::uint8_t> stored) const
{
    auto equal = [&stored](const TSecureBuffer& digest) {
        return std::equal(digest.begin(), digest.end(), stored.begin(), stored.end());
    };
    for (const TCandidate& c : m_candidates) {
        if (equal(c.check)) {
            return TMatch{c.bytes.View(), THeaderForm::Check};
        }
        if (equal(c.digest)) {
            return TMatch{c.bytes.View(), THeaderForm::Legacy};
        }
    }
    return std::nullopt;
}

THeaderInfo ReadHeader(const std::string& path)
{
    TFileReader reader(path);
    std::array<std::uint8_t, kHeaderSize> header{};
    const std::size_t got = reader.Read(header);
    THeaderInfo info;
    info.HasMarker = got >= kMarker.size() && std::equal(kMarker.begin(), kMarker.end(), header.begin());
    if (!info.HasMarker || got < kHeaderSize) {
        return info;
    }
    info.AlgorithmIndex = ParseIndex(header[3], header[4]);
    info.Valid = info.AlgorithmIndex >= 0;
    std::copy(header.begin() + 5, header.end(), info.Stored.begin());
    return info;
}

TEncryptOutcome EncryptSingleFile(const std::string& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options)
{
    const TAlgorithmInfo& algorithm = AlgorithmAt(algorithmIndex);
    TFileReader reader(source);
    std::array<std::uint8_t, 3> start{};
    if (reader.Read(start) == start.size() && start == kMarker) {
        return {TEncryptResult::AlreadyEncrypted, {}};
    }
    reader.Seek(0);
    const std::uint64_t size = reader.Size();

    TVX_cipher& cipher = ciphers.Cipher(algorithm.Index);
    cipher.KeyFromPassword<TVX_md5>(password.Bytes());
    TWipeCipher wipeCipher(cipher);

    TOutputFile output(source, EncryptedOutputPath(source), reader.Permissions(), options.Intermediate);
    TSecureBuffer header(kHeaderSize);
    std::copy(kMarker.begin(), kMarker.end(), header.begin());
    header[3] = static_cast<std::uint8_t>('0' + algorithm.Index / 10);
    header[4] = static_cast<std::uint8_t>('0' + algorithm.Index % 10);
    std::copy(password.Check().begin(), password.Check().end(), header.begin() + 5);
    output.Writer().Write(header);

    const std::uint64_t read = cipher.StreamEncrypt(reader, output.Writer(), size);
    // A file that grew or shrank while it was read would give an output that is not the whole
    // source, and the source may be deleted next: refuse it instead.
    std::array<std::uint8_t, 1> probe{};
    if (read != size || reader.Read(probe) != 0 || reader.Size() != size) {
        throw std::runtime_error("The file \"" + source + "\" changed while it was being encrypted; nothing was kept.");
    }
    output.Commit(options.Durable);
    return {TEncryptResult::Encrypted, output.FinalPath()};
}

TDecryptOutcome DecryptSingleFile(const std::string& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options)
{
    TFileReader reader(source);
    // The older header form stores the key itself.
    TSecureBuffer header(kHeaderSize);
    const std::size_t got = reader.Read(header);
    TDecryptOutcome outcome{TDecryptResult::NotEncrypted, {}, -1, THeaderForm::Check, {}};
    if (got < kMarker.size() || !std::equal(kMarker.begin(), kMarker.end(), header.begin())) {
        return outcome;
    }
    // A marker with a header cut short, or digits that name no algorithm, is no file of ours:
    // decrypting it could only produce output that looks like a result and is not.
    const int index = got == kHeaderSize ? ParseIndex(header[3], header[4]) : -1;
    if (index < 0) {
        return outcome;
    }
    const auto match = password.Match(std::span<const std::uint8_t>(header).subspan(5));
    if (!match) {
        outcome.Result = TDecryptResult::BadPassword;
        return outcome;
    }
    outcome.AlgorithmIndex = index;
    outcome.Form = match->form;
    outcome.KeyBytes = match->bytes;

    TVX_cipher& cipher = ciphers.Cipher(index);
    cipher.KeyFromPassword<TVX_md5>(match->bytes);
    TWipeCipher wipeCipher(cipher);

    const std::uint64_t size = reader.Size();
    TOutputFile output(source, DecryptedOutputPath(source), reader.Permissions(), options.Intermediate);
    // The byte count includes the header already read, so the last request runs past the end and
    // comes back short: the body's pieces still fall where encryption put them.
    cipher.StreamDecrypt(reader, output.Writer(), size);
    output.Commit(options.Durable);
    outcome.OutputPath = output.FinalPath();
    outcome.Result = TDecryptResult::Decrypted;
    return outcome;
}
