// The encrypted file format: header, output names, the password key and the single-file operations.
#include "encryption/FileFormat.h"

#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/PasswordBytes.h"
#include "platform/FileStream.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
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

// The output of one file operation, created in the source's folder under a partial name that no
// file had before (NAME.vellumox-partial, then .1, .2, ...), so that nothing is cut short and a
// half-written file never wears a finished name. Commit gives it the source's permission bits,
// flushes it when asked and renames it in one step: onto NAME (replacing an older file there or
// refusing to, as asked), or for an intermediate output to the first free one of NAME, NAME.1, ...
// Until then it is removed again on any error.
class TOutputFile
{
public:
    TOutputFile(const TFileRef& source, const std::string& finalName, unsigned permissions, const TFileOptions& options)
        : m_folder(*source.folder), m_finalName(finalName), m_permissions(permissions), m_options(options)
    {
        if (!options.Intermediate) {
            const auto existing = m_folder.Find(finalName);
            if (existing && existing->identity == source.identity) {
                throw std::runtime_error("The output \"" + m_folder.PathOf(finalName) +
                                         "\" is the source file itself; nothing was written.");
            }
        }
        for (int attempt = 0; !m_writer; ++attempt) {
            m_name = finalName + kPartialSuffix;
            if (attempt != 0) {
                m_name += '.';
                m_name += std::to_string(attempt);
            }
            try {
                m_writer.emplace(m_folder, m_name, TCreateMode::CreateNew, permissions & 0777);
            } catch (const EFileError& e) {
                if (!AlreadyExists(e) || attempt == 999) {
                    throw;
                }
            }
        }
    }
    ~TOutputFile()
    {
        if (!m_committed) {
            m_writer.reset();
            try {
                m_folder.Remove(m_name);
            } catch (...) {
            }
        }
    }
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    TFileWriter& Writer() { return *m_writer; }
    const std::string& FinalPath() const { return m_finalPath; }
    const TFileIdentity& Identity() const { return m_identity; }

    void Commit()
    {
        // The mode the source has, exactly: the creation mode went through the umask.
        m_writer->SetPermissions(m_permissions);
        if (m_options.Durable) {
            m_writer->Sync();
        }
        m_identity = m_writer->Identity();
        m_writer->Close();
        if (!m_options.Intermediate) {
            m_folder.Rename(m_name, m_finalName,
                            m_options.ReplaceExisting ? TRenameMode::Replace : TRenameMode::NoReplace);
            m_finalPath = m_folder.PathOf(m_finalName);
            m_committed = true;
            return;
        }
        for (int attempt = 0;; ++attempt) {
            const std::string name = attempt == 0 ? m_finalName : m_finalName + "." + std::to_string(attempt);
            try {
                m_folder.Rename(m_name, name, TRenameMode::NoReplace);
                m_finalPath = m_folder.PathOf(name);
                m_committed = true;
                return;
            } catch (const EFileError& e) {
                if (!AlreadyExists(e) || attempt == 999) {
                    throw;
                }
            }
        }
    }

private:
    const TFolder& m_folder;
    std::string m_finalName;
    unsigned m_permissions;
    TFileOptions m_options;
    std::string m_name;
    std::string m_finalPath;
    TFileIdentity m_identity;
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

THeaderKind ClassifyHeader(std::span<const std::uint8_t> start)
{
    if (start.size() < kMarker.size() || !std::equal(kMarker.begin(), kMarker.end(), start.begin())) {
        return THeaderKind::Plain;
    }
    if (start.size() < kHeaderSize || ParseIndex(start[3], start[4]) < 0) {
        return THeaderKind::Damaged;
    }
    return THeaderKind::Encrypted;
}

bool IsEncryptedHeader(std::span<const std::uint8_t> start)
{
    return ClassifyHeader(start) == THeaderKind::Encrypted;
}

bool IsEncryptedFile(const std::string& path)
{
    // Only regular files are read (a link to one counts): opening a FIFO for reading would wait
    // for a writer.
    std::error_code error;
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    if (!std::filesystem::is_regular_file(name, error)) {
        return false;
    }
    try {
        return ReadHeader(path).Kind == THeaderKind::Encrypted;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {
THeaderInfo HeaderFrom(TFileReader& reader)
{
    std::array<std::uint8_t, kHeaderSize> header{};
    const std::size_t got = reader.Read(header);
    THeaderInfo info;
    info.Kind = ClassifyHeader(std::span(header).first(got));
    info.HasMarker = info.Kind != THeaderKind::Plain;
    info.Valid = info.Kind == THeaderKind::Encrypted;
    if (!info.Valid) {
        return info;
    }
    info.AlgorithmIndex = ParseIndex(header[3], header[4]);
    std::copy(header.begin() + 5, header.end(), info.Stored.begin());
    return info;
}
} // namespace

THeaderInfo ReadHeader(const std::string& path)
{
    TFileReader reader(path);
    return HeaderFrom(reader);
}

THeaderInfo ReadHeader(const TFileRef& file)
{
    TFileReader reader(file);
    return HeaderFrom(reader);
}

TEncryptOutcome EncryptSingleFile(const std::string& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options)
{
    return EncryptSingleFile(AnchorPath(source), password, algorithmIndex, ciphers, options);
}

TDecryptOutcome DecryptSingleFile(const std::string& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options)
{
    return DecryptSingleFile(AnchorPath(source), password, ciphers, options);
}

TEncryptOutcome EncryptSingleFile(const TFileRef& source, const TPasswordKey& password, int algorithmIndex,
                                  TCipherSet& ciphers, const TFileOptions& options)
{
    const TAlgorithmInfo& algorithm = AlgorithmAt(algorithmIndex);
    TFileReader reader(source);
    std::array<std::uint8_t, kHeaderSize> start{};
    if (IsEncryptedHeader(std::span(start).first(reader.Read(start)))) {
        return {TEncryptResult::AlreadyEncrypted, {}};
    }
    reader.Seek(0);
    const std::uint64_t size = reader.Size();
    const std::string outputName = source.name + ".enc";
    if (!options.Intermediate && !options.ReplaceExisting && source.folder->Find(outputName)) {
        return {TEncryptResult::OutputExists, source.folder->PathOf(outputName)};
    }

    TVX_cipher& cipher = ciphers.Cipher(algorithm.Index);
    cipher.KeyFromPassword<TVX_md5>(password.Bytes());
    TWipeCipher wipeCipher(cipher);

    TOutputFile output(source, outputName, reader.Permissions(), options);
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
        throw std::runtime_error("The file \"" + source.Path() +
                                 "\" changed while it was being encrypted; nothing was kept.");
    }
    output.Commit();
    return {TEncryptResult::Encrypted, output.FinalPath(), output.Identity()};
}

TDecryptOutcome DecryptSingleFile(const TFileRef& source, const TPasswordKey& password, TCipherSet& ciphers,
                                  const TFileOptions& options)
{
    TFileReader reader(source);
    // The older header form stores the key itself.
    TSecureBuffer header(kHeaderSize);
    const std::size_t got = reader.Read(header);
    TDecryptOutcome outcome{TDecryptResult::NotEncrypted, {}, -1, THeaderForm::Check, {}, {}};
    switch (ClassifyHeader(std::span<const std::uint8_t>(header).first(got))) {
    case THeaderKind::Plain:
        return outcome;
    case THeaderKind::Damaged:
        // No file of ours: decrypting it could only produce output that looks like a result.
        outcome.Result = TDecryptResult::Damaged;
        return outcome;
    case THeaderKind::Encrypted:
        break;
    }
    const int index = ParseIndex(header[3], header[4]);
    const auto match = password.Match(std::span<const std::uint8_t>(header).subspan(5));
    if (!match) {
        outcome.Result = TDecryptResult::BadPassword;
        return outcome;
    }
    const std::string outputName = NameOfPath(DecryptedOutputPath(source.name));
    if (!options.Intermediate && !options.ReplaceExisting && source.folder->Find(outputName)) {
        outcome.Result = TDecryptResult::OutputExists;
        outcome.OutputPath = source.folder->PathOf(outputName);
        return outcome;
    }
    outcome.AlgorithmIndex = index;
    outcome.Form = match->form;
    outcome.KeyBytes = match->bytes;

    TVX_cipher& cipher = ciphers.Cipher(index);
    cipher.KeyFromPassword<TVX_md5>(match->bytes);
    TWipeCipher wipeCipher(cipher);

    const std::uint64_t size = reader.Size();
    TOutputFile output(source, outputName, reader.Permissions(), options);
    // The byte count includes the header already read, so the last request runs past the end and
    // comes back short: the body's pieces still fall where encryption put them.
    const std::uint64_t read = cipher.StreamDecrypt(reader, output.Writer(), size);
    // As in encryption: a source that shrank or grew meanwhile gives no whole plaintext, and the
    // source action must not take it for one.
    std::array<std::uint8_t, 1> probe{};
    if (read != size - kHeaderSize || reader.Read(probe) != 0 || reader.Size() != size) {
        throw std::runtime_error("The file \"" + source.Path() +
                                 "\" changed while it was being decrypted; nothing was kept.");
    }
    output.Commit();
    outcome.OutputPath = output.FinalPath();
    outcome.OutputIdentity = output.Identity();
    outcome.Result = TDecryptResult::Decrypted;
    return outcome;
}
