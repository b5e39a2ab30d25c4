// The encrypt, decrypt, info, algorithms and selftest commands of the command-line tool.
#include "cli/CliCommon.h"
#include "cli/Terminal.h"
#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/FileFormat.h"
#include "encryption/Runs.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>

namespace
{
TSecureBuffer ReadPassword(const std::optional<std::string>& passwordFile, bool confirm)
{
    if (passwordFile) {
        return ReadFirstLine(*passwordFile);
    }
    if (!StdinIsTerminal()) {
        throw EUsage("no terminal to ask for the password on: use --password-file");
    }
    TSecureBuffer first = ReadSecretLine("Password: ");
    if (confirm) {
        const TSecureBuffer second = ReadSecretLine("Confirm password: ");
        if (!(first == second)) {
            throw ECliExit(kExitUsage, "The password and confirmation password do not match.");
        }
    }
    return first;
}

struct TCommonOptions
{
    std::optional<std::string> passwordFile;
    bool recursive = false;
    std::vector<std::string> paths;
};

TCommonOptions ParseOptions(const std::vector<std::string>& args)
{
    TCommonOptions options;
    TArgReader reader(args);
    while (const auto next = reader.NextOption()) {
        const std::string& option = *next;
        if (option == "--password-file") {
            options.passwordFile = reader.Value(option);
        } else if (option == "-r" || option == "--recursive") {
            options.recursive = true;
        } else {
            throw EUsage("unknown option '" + option + "'");
        }
    }
    options.paths = reader.Operands();
    if (options.paths.empty()) {
        throw EUsage("no file given");
    }
    return options;
}

} // namespace

namespace
{
struct TRunCommand
{
    TRunOptions options;
    std::optional<std::string> passwordFile;
    bool recursive = false;
    std::vector<std::string> paths;
};

TSourceAction ParseSourceAction(const std::string& word)
{
    if (word == "leave") {
        return TSourceAction::Leave;
    }
    if (word == "delete") {
        return TSourceAction::Delete;
    }
    if (word == "shred") {
        return TSourceAction::Shred;
    }
    throw EUsage("--source takes leave, delete or shred, not '" + word + "'");
}

// Every short name of every algorithm, in the list's order.
std::string AcceptedNames()
{
    std::string names;
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        for (const char c : info.Names) {
            names += c == ',' ? std::string(", ") : std::string(1, c);
        }
        names += info.Index + 1 < kAlgorithmCount ? ", " : "";
    }
    return names;
}

TRunCommand ParseRunCommand(const std::vector<std::string>& args, bool encrypting)
{
    TRunCommand command;
    command.options.Jobs = WorkerCount(0);
    // A user's file under the output's name is kept unless --force says otherwise, and one file's
    // error never abandons the rest.
    command.options.ReplaceExisting = false;
    command.options.ContinueAfterError = true;
    TArgReader reader(args);
    while (const auto next = reader.NextOption()) {
        const std::string& option = *next;
        if (option == "--password-file") {
            command.passwordFile = reader.Value(option);
        } else if (option == "--source") {
            command.options.SourceAction = ParseSourceAction(reader.Value(option));
        } else if (option == "-r" || option == "--recursive") {
            command.recursive = true;
        } else if (option == "--verify") {
            command.options.Verify = true;
        } else if (option == "--force") {
            command.options.ReplaceExisting = true;
        } else if (encrypting && (option == "-a" || option == "--algorithm")) {
            const std::string name = reader.Value(option);
            command.options.AlgorithmIndex = FindAlgorithm(name);
            if (command.options.AlgorithmIndex < 0) {
                throw EUsage("unknown algorithm '" + name + "': give an index 0 to 12 or one of " + AcceptedNames());
            }
        } else if (option == "--keep-date") {
            command.options.KeepDate = true;
        } else if (encrypting && option == "--mark-hidden") {
            command.options.MarkHidden = true;
        } else if (option == "-j" || option == "--jobs") {
            command.options.Jobs = ParseJobs(reader.Value(option));
        } else {
            throw EUsage("unknown option '" + option + "'");
        }
    }
    command.paths = reader.Operands();
    if (command.paths.empty()) {
        throw EUsage("no file given");
    }
    return command;
}

// The run's progress on the terminal, its skipped files and notes as they happen, and its summary
// lines at the end, worded as the message log shows them.
class TCliRunView final : public TRunView
{
public:
    explicit TCliRunView(std::uint64_t totalBytes) : m_totalBytes(totalBytes), m_start(NowSeconds()) {}

    void CurrentLabel(const std::string& text) override { m_label = text; }
    void TotalBar(std::int64_t position, std::int64_t maximum) override
    {
        m_filesDone = position;
        m_files = maximum;
        m_bytesBefore = m_bytesDone;
    }
    void CurrentBar(std::int64_t position, std::int64_t maximum) override
    {
        const bool ciphering = m_label.rfind("Encrypting: ", 0) == 0 || m_label.rfind("Decrypting: ", 0) == 0;
        if (ciphering) {
            m_bytesDone = m_bytesBefore + static_cast<std::uint64_t>(position);
        }
        char extra[96];
        const int used = std::snprintf(extra, sizeof extra, "[%lld/%lld]",
                                       static_cast<long long>(std::min(m_filesDone + 1, m_files)),
                                       static_cast<long long>(m_files));
        const double elapsed = NowSeconds() - m_start;
        if (ciphering && elapsed > 0.5 && m_bytesDone > 0 && used > 0) {
            const double speed = static_cast<double>(m_bytesDone) / elapsed;
            const double left = static_cast<double>(m_totalBytes - std::min(m_totalBytes, m_bytesDone)) / speed;
            std::snprintf(extra + used, sizeof extra - static_cast<std::size_t>(used), " %.1f MB/s, %.0f s left",
                          speed / 1e6, left);
        }
        m_line.Show(m_label, static_cast<std::uint64_t>(std::max<std::int64_t>(position, 0)),
                    static_cast<std::uint64_t>(std::max<std::int64_t>(maximum, 0)), extra);
    }
    void LogLine(const std::string& text, int image) override
    {
        (void)image;
        m_line.Clear();
        std::cerr << text << '\n';
    }
    void FinalMessage(const std::string& text) override
    {
        m_line.Clear();
        std::cerr << text << '\n';
    }
    void FileSkipped(const std::string& path, const std::string& reason) override
    {
        m_line.Clear();
        std::cerr << "skipped \"" << path << "\": " << reason << '\n';
    }
    void FileNote(const std::string& path, const std::string& note) override
    {
        m_line.Clear();
        std::cerr << "note: \"" << path << "\": " << note << '\n';
    }
    bool StopRequested() override { return StopSignal() != 0; }
    std::int64_t FilesDone() const { return m_filesDone; }

private:
    static double NowSeconds()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    TProgressLine m_line;
    std::string m_label;
    std::int64_t m_filesDone = 0;
    std::int64_t m_files = 0;
    std::uint64_t m_bytesBefore = 0;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_totalBytes;
    double m_start;
};

int RunFiles(const std::vector<std::string>& args, bool encrypting)
{
    const TRunCommand command = ParseRunCommand(args, encrypting);
    TFileRun run;
    bool pathSkipped = false;
    auto skip = [&pathSkipped](const std::string& path, const std::string& reason) {
        std::cerr << "skipped \"" << path << "\": " << reason << '\n';
        pathSkipped = true;
    };
    // Every file below a folder is anchored in its open folder as it is listed, so that the run
    // works on what was listed even if a folder is swapped for a link meanwhile.
    for (const std::string& path : command.paths) {
        if (IsDirectory(path)) {
            if (!command.recursive) {
                skip(path, "a folder (use -r to process the files in it)");
                continue;
            }
            for (const std::string& folder : run.AddFolder(path)) {
                skip(folder, "the folder cannot be listed");
            }
            continue;
        }
        try {
            AnchorPath(path);
        } catch (const EFileError& e) {
            skip(path, SystemErrorText(e.SystemError()));
            continue;
        }
        run.AddFile(path);
    }
    const TSecureBuffer typed = ReadPassword(command.passwordFile, encrypting);
    if (encrypting && typed.empty()) {
        throw ECliExit(kExitUsage, "The Password can't be blank!");
    }
    std::uint64_t totalBytes = 0;
    for (const std::string& path : run.WorkList) {
        if (const auto entry = FindEntry(path)) {
            totalBytes += entry->size;
        }
    }
    TCliRunView view(totalBytes);
    TStopSignals signals;
    try {
        if (encrypting) {
            run.RunEncryption(typed.View(), command.options, view);
        } else {
            run.RunDecryption(typed.View(), command.options, view);
        }
    } catch (const ERunStopped&) {
        const int signal = StopSignal();
        std::cerr << "Interrupted (signal " << signal << ") after " << view.FilesDone() << " of "
                  << run.WorkList.size()
                  << " file(s): the file being worked on keeps its source, and its partial output was removed.\n";
        return 128 + signal;
    }
    const bool skipped = pathSkipped || !run.InUseList.empty() || !run.BadPasswordList.empty() ||
                         !run.AlreadyDoneList.empty() || !run.UnsupportedList.empty() || !run.DamagedList.empty() ||
                         !run.OutputExistsList.empty() || !run.FailedList.empty();
    return skipped ? kExitSkipped : kExitOk;
}
} // namespace

int RunEncryptCommand(const std::vector<std::string>& args)
{
    return RunFiles(args, true);
}

int RunDecryptCommand(const std::vector<std::string>& args)
{
    return RunFiles(args, false);
}

int RunInfoCommand(const std::vector<std::string>& args)
{
    const TCommonOptions options = ParseOptions(args);
    std::optional<TPasswordKey> password;
    if (options.passwordFile) {
        const TSecureBuffer typed = ReadFirstLine(*options.passwordFile);
        password.emplace(typed.View());
    }
    bool anySkipped = false;
    const auto skip = [&anySkipped](const std::string& path, const std::string& reason) {
        std::cerr << "skipped \"" << path << "\": " << reason << '\n';
        anySkipped = true;
    };
    // Folders give their files as the other commands take them: links, special files and the
    // hidden-name lists are passed over.
    std::vector<std::string> files;
    for (const std::string& path : options.paths) {
        if (!IsDirectory(path)) {
            files.push_back(path);
        } else if (!options.recursive) {
            skip(path, "a folder (use -r to process the files in it)");
        } else {
            const TTreeListing tree = ListTree(path);
            for (std::size_t i = 0; i < tree.files.size(); ++i) {
                const TFileRef& file = tree.fileRefs[i];
                const auto entry = file.folder->Find(file.name);
                if (entry && entry->kind == TEntryKind::File && file.name != kHiddenListName) {
                    files.push_back(tree.files[i]);
                }
            }
            for (const std::string& folder : tree.unreadable) {
                skip(folder, "the folder cannot be listed");
            }
        }
    }
    for (const std::string& path : files) {
        THeaderInfo info;
        try {
            info = ReadHeader(path);
        } catch (const EFileError& e) {
            skip(path, SystemErrorText(e.SystemError()));
            continue;
        }
        std::cout << path << ": ";
        if (info.Kind == THeaderKind::Plain) {
            std::cout << "not encrypted\n";
            continue;
        }
        if (info.Kind == THeaderKind::Damaged) {
            std::cout << "damaged: it begins with the marker, but its header names no algorithm 00 to 12 or is cut "
                         "short\n";
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
    // The names column comes last and holds no spaces: the shell completion reads it as the last word.
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        std::printf("%02d  %-20s %-9s %-13s %s\n", info.Index, std::string(info.Caption).c_str(),
                    std::string(info.Algorithm).c_str(), info.Create != nullptr ? "available" : "not available",
                    std::string(info.Names).c_str());
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
