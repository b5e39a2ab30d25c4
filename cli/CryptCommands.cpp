#include "cli/CliCommon.h"
#include "cli/Terminal.h"
#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/FileFormat.h"

#include <cstdio>
#include <iostream>
#include <optional>

namespace
{
class TSecretText
{
public:
    explicit TSecretText(std::string text) : m_text(std::move(text)) {}
    ~TSecretText() { SecureFill(std::span(reinterpret_cast<std::uint8_t*>(m_text.data()), m_text.size()), 0); }
    TSecretText(const TSecretText&) = delete;
    TSecretText& operator=(const TSecretText&) = delete;
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

std::string ReadPassword(const std::optional<std::string>& passwordFile, bool confirm)
{
    if (passwordFile) {
        return ReadFirstLine(*passwordFile);
    }
    if (!StdinIsTerminal()) {
        throw EUsage("no terminal to ask for the password on: use --password-file");
    }
    TSecretText first(ReadSecretLine("Password: "));
    if (confirm) {
        TSecretText second(ReadSecretLine("Confirm password: "));
        if (first.Text() != second.Text()) {
            throw ECliExit(kExitUsage, "The password and confirmation password do not match.");
        }
    }
    return first.Text();
}

struct TCommonOptions
{
    std::optional<std::string> passwordFile;
    int algorithm = 0;
    std::vector<std::string> paths;
};

TCommonOptions ParseOptions(const std::vector<std::string>& args, bool allowAlgorithm)
{
    TCommonOptions options;
    TArgReader reader(args);
    while (!reader.Done()) {
        if (!reader.AtOption()) {
            options.paths.push_back(reader.Take());
            continue;
        }
        const std::string option = reader.Take();
        if (option == "--password-file") {
            options.passwordFile = reader.Value(option);
        } else if (allowAlgorithm && (option == "-a" || option == "--algorithm")) {
            const std::string name = reader.Value(option);
            options.algorithm = FindAlgorithm(name);
            if (options.algorithm < 0) {
                throw EUsage("unknown algorithm '" + name + "' (see 'vellumox-cli algorithms')");
            }
        } else {
            throw EUsage("unknown option '" + option + "'");
        }
    }
    if (options.paths.empty()) {
        throw EUsage("no file given");
    }
    return options;
}

// Shows the current file's bytes on the terminal while a cipher streams it.
class TFileProgress
{
public:
    TFileProgress(TCipherSet& ciphers, std::string label) : m_ciphers(ciphers), m_label(std::move(label))
    {
        m_ciphers.SetOnProgress([this](const void*, std::int64_t done, std::int64_t total) {
            m_line.Show(m_label, static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
        });
    }
    ~TFileProgress() { m_ciphers.SetOnProgress({}); }
    TFileProgress(const TFileProgress&) = delete;
    TFileProgress& operator=(const TFileProgress&) = delete;

private:
    TCipherSet& m_ciphers;
    std::string m_label;
    TProgressLine m_line;
};

void Skipped(const std::string& path, const std::string& why, bool& anySkipped)
{
    std::cerr << "skipped \"" << path << "\": " << why << '\n';
    anySkipped = true;
}
} // namespace

bool TArgReader::AtOption()
{
    if (m_operandsOnly || Done()) {
        return false;
    }
    const std::string& word = m_args[m_next];
    if (word == "--") {
        m_operandsOnly = true;
        ++m_next;
        return false;
    }
    return word.size() > 1 && word[0] == '-';
}

std::string TArgReader::Value(const std::string& option)
{
    if (Done()) {
        throw EUsage("option '" + option + "' needs a value");
    }
    return Take();
}

int RunEncryptCommand(const std::vector<std::string>& args)
{
    const TCommonOptions options = ParseOptions(args, true);
    if (AlgorithmAt(options.algorithm).Create == nullptr) {
        throw ECliExit(kExitUsage, "vellumox-cli: algorithm not available: " +
                                       std::string(AlgorithmAt(options.algorithm).Caption));
    }
    TSecretText typed(ReadPassword(options.passwordFile, true));
    if (typed.Text().empty()) {
        throw ECliExit(kExitUsage, "The Password can't be blank!");
    }
    const TPasswordKey password(typed.Text());
    TCipherSet ciphers;
    bool anySkipped = false;
    for (const std::string& path : options.paths) {
        TFileProgress progress(ciphers, "Encrypting: " + NamePart(path));
        const TEncryptOutcome outcome = EncryptSingleFile(path, password, options.algorithm, ciphers);
        if (outcome.Result == TEncryptResult::AlreadyEncrypted) {
            Skipped(path, "already encrypted", anySkipped);
        } else {
            std::cout << "encrypted \"" << path << "\" -> \"" << outcome.OutputPath << "\"\n";
        }
    }
    return anySkipped ? kExitSkipped : kExitOk;
}

int RunDecryptCommand(const std::vector<std::string>& args)
{
    const TCommonOptions options = ParseOptions(args, false);
    TSecretText typed(ReadPassword(options.passwordFile, false));
    const TPasswordKey password(typed.Text());
    TCipherSet ciphers;
    bool anySkipped = false;
    for (const std::string& path : options.paths) {
        TFileProgress progress(ciphers, "Decrypting: " + NamePart(path));
        const TDecryptOutcome outcome = DecryptSingleFile(path, password, ciphers);
        switch (outcome.Result) {
        case TDecryptResult::NotEncrypted:
            Skipped(path, "not encrypted", anySkipped);
            break;
        case TDecryptResult::BadPassword:
            Skipped(path, "bad password", anySkipped);
            break;
        case TDecryptResult::Decrypted:
            std::cout << "decrypted \"" << path << "\" -> \"" << outcome.OutputPath << "\"\n";
            if (outcome.Form == THeaderForm::Legacy) {
                std::cerr << "warning: \"" << path
                          << "\" has the older header form, which carries its own key; encrypt it again.\n";
            }
            break;
        }
    }
    return anySkipped ? kExitSkipped : kExitOk;
}

int RunInfoCommand(const std::vector<std::string>& args)
{
    const TCommonOptions options = ParseOptions(args, false);
    std::optional<TPasswordKey> password;
    if (options.passwordFile) {
        TSecretText typed(ReadFirstLine(*options.passwordFile));
        password.emplace(typed.Text());
    }
    bool anySkipped = false;
    for (const std::string& path : options.paths) {
        const THeaderInfo info = ReadHeader(path);
        std::cout << path << ": ";
        if (!info.HasMarker) {
            std::cout << "not encrypted\n";
            continue;
        }
        if (!info.Valid) {
            std::cout << "begins with the marker, but its header is damaged (no algorithm 00 to 12)\n";
            anySkipped = true;
            continue;
        }
        const TAlgorithmInfo& algorithm = AlgorithmAt(info.AlgorithmIndex);
        std::printf("encrypted, algorithm %02d \"%s\"", algorithm.Index, std::string(algorithm.Caption).c_str());
        std::fflush(stdout);
        if (!password) {
            std::cout << "; header form unknown without the password (--password-file)\n";
        } else if (const auto match = password->Match(info.Stored)) {
            if (match->form == THeaderForm::Check) {
                std::cout << "; header holds a password check\n";
            } else {
                std::cout << "; older header form\n";
                std::cerr << "warning: \"" << path
                          << "\" stores MD5 of the password, which is also its key: anyone holding the file can "
                             "decrypt it without the password. Decrypt it and encrypt it again.\n";
            }
        } else {
            std::cout << "; the password does not match\n";
        }
    }
    return anySkipped ? kExitSkipped : kExitOk;
}

int RunAlgorithmsCommand(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        throw EUsage("'algorithms' takes no arguments");
    }
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        std::printf("%02d  %-20s %-9s %s\n", info.Index, std::string(info.Caption).c_str(),
                    std::string(info.Algorithm).c_str(), info.Create != nullptr ? "available" : "not available");
    }
    return kExitOk;
}

int RunSelftestCommand(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        throw EUsage("'selftest' takes no arguments");
    }
    bool ok = TVX_md5::CheckVectors();
    std::printf("%-9s %s\n", "MD5", ok ? "ok" : "FAILED");
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        if (info.CheckVectors == nullptr) {
            continue;
        }
        const bool passed = info.CheckVectors();
        std::printf("%-9s %s\n", std::string(info.Algorithm).c_str(), passed ? "ok" : "FAILED");
        ok = ok && passed;
    }
    return ok ? kExitOk : kExitError;
}
