// The encrypt, decrypt, info, algorithms and selftest commands of the command-line tool.
#include "cli/CliCommon.h"
#include "cli/Progress.h"
#include "cli/Terminal.h"
#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "encryption/FileFormat.h"
#include "encryption/PasswordCheck.h"
#include "encryption/Runs.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

namespace {
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

// A terminal user gets this many tries at a password that opens none of the files.
constexpr int kPasswordTries = 3;

std::string OpensNoneText(std::size_t encrypted)
{
    if (encrypted == 1) {
        return "The password does not open the encrypted file.";
    }
    return "The password opens none of the " + std::to_string(encrypted) + " encrypted files.";
}

// A wrong password would otherwise be found at every encrypted file of the run, each skipped with
// the same complaint; the headers tell it at once, before anything is touched. A password that
// opens some of them goes on: the others are then skipped as the run finds them.
TSecureBuffer ReadDecryptionPassword(const std::optional<std::string>& passwordFile, const TFileRun& run)
{
    for (int attempt = 1;; ++attempt) {
        TSecureBuffer typed = ReadPassword(passwordFile, false);
        const TPasswordReach reach = CheckPasswordReach(TPasswordKey(typed.View()), run);
        if (!reach.OpensNone()) {
            return typed;
        }
        const std::string none = OpensNoneText(reach.Encrypted);
        if (passwordFile || attempt == kPasswordTries) {
            throw ECliExit(kExitSkipped, none + " Nothing was decrypted.");
        }
        std::cerr << none << " Try again.\n";
    }
}

// The paths that info, encrypt and decrypt take, and their -r.
void AddFileOperands(CLI::App& command, std::vector<std::string>& paths, bool& recursive)
{
    AddPathOperands(command, paths, "the files to work on, and with -r the folders");
    command.add_flag("-r,--recursive", recursive,
                     "take every file below the given folders, hidden ones included; links are never followed");
}

struct TInfoOptions
{
    std::optional<std::string> passwordFile;
    bool recursive = false;
    std::vector<std::string> paths;
};
} // namespace

namespace {
struct TRunCommand
{
    TRunOptions options;
    std::optional<std::string> passwordFile;
    bool recursive = false;
    std::vector<std::string> paths;
    // Only errors: no progress, no summary.
    bool Quiet = false;
    // 0: one file at a time per processor core.
    unsigned Jobs = 0;
};

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

// Declares encrypt or decrypt on the tool; the parser stores what it reads in command.
CLI::App& AddRunCommand(CLI::App& tool, TRunCommand& command, bool encrypting)
{
    // A user's file under the output's name is kept unless --force says otherwise, and one file's
    // error never abandons the rest.
    command.options.ReplaceExisting = false;
    command.options.ContinueAfterError = true;
    CLI::App& sub = *tool.add_subcommand(
        encrypting ? "encrypt" : "decrypt",
        encrypting ? "encrypt each file into PATH.enc, or in place with --source delete or shred"
                   : "decrypt each encrypted file into its .dec output, or in place with --source delete or shred");
    if (encrypting) {
        sub.add_option("-a,--algorithm", command.options.AlgorithmIndex,
                       "the algorithm: an index 0 to 12 or a name that 'vellumox-cli algorithms' lists, in any case "
                       "(default: 0, Blowfish)")
            ->type_name("INDEX|NAME")
            ->transform(CLI::Validator(
                [](std::string& name) -> std::string {
                    const int index = FindAlgorithm(name);
                    if (index < 0) {
                        return "unknown algorithm '" + name + "': give an index 0 to 12 or one of " + AcceptedNames();
                    }
                    name = std::to_string(index);
                    return {};
                },
                "", "AlgorithmName"));
    }
    sub.add_option("--source", command.options.SourceAction,
                   "what becomes of each source once its output is complete and flushed: leave (the default), "
                   "delete, or shred (overwrite, then delete); with delete or shred the output takes the "
                   "source's name")
        ->type_name("leave|delete|shred")
        ->transform(CLI::Validator(
            [](std::string& word) -> std::string {
                static const std::pair<const char*, TSourceAction> actions[] = {{"leave", TSourceAction::Leave},
                                                                                {"delete", TSourceAction::Delete},
                                                                                {"shred", TSourceAction::Shred}};
                for (const auto& [name, action] : actions) {
                    if (word == name) {
                        word = std::to_string(static_cast<int>(action));
                        return {};
                    }
                }
                return "takes leave, delete or shred, not '" + word + "'";
            },
            "", "SourceAction"));
    sub.add_flag("--keep-date", command.options.KeepDate,
                 encrypting ? "with delete or shred, give the encrypted file the source's modification time"
                            : "with delete or shred, give the plaintext the encrypted file's modification time");
    if (encrypting) {
        sub.add_flag("--mark-hidden", command.options.MarkHidden,
                     "with delete or shred, hide the encrypted file by listing it in its folder's .hidden file");
    }
    sub.add_flag("--verify", command.options.Verify,
                 "read each output back and check it against its source before the source is touched");
    sub.add_flag("--force", command.options.ReplaceExisting,
                 "replace an existing output instead of skipping its source");
    AddPasswordFileOption(sub, command.passwordFile);
    AddQuietOption(sub, command.Quiet);
    AddJobsOption(sub, command.Jobs);
    AddFileOperands(sub, command.paths, command.recursive);
    return sub;
}

// The run's view with Ctrl-C, SIGTERM and SIGHUP as its stop button.
class TCommandRunView final : public TCliRunView
{
public:
    using TCliRunView::TCliRunView;
    bool StopRequested() override { return StopSignal() != 0; }
};

// What the run did, in the command line's own words: the processed files and bytes and the time,
// then one line for each reason files were passed over.
TRunSummary RunSummary(const TFileRun& run, const TCliRunView& view, const TRunCommand& command, bool encrypting,
                       const std::vector<std::pair<std::string, std::uint64_t>>& pathsSkipped)
{
    TRunSummary summary;
    summary.Done =
        std::string(encrypting ? "Encrypted" : "Decrypted") + (command.options.Verify ? " and verified" : "");
    summary.Files = view.FilesProcessed();
    summary.Bytes = view.BytesProcessed();
    summary.Seconds = view.Seconds();
    summary.Skipped = {
        {"wrong password", run.BadPasswordList.size()},
        {encrypting ? "already encrypted" : "not encrypted", run.AlreadyDoneList.size()},
        {"in use", run.InUseList.size()},
        {"damaged header", run.DamagedList.size()},
        {"output already exists (--force replaces it)", run.OutputExistsList.size()},
        {"link, folder or special file", run.UnsupportedList.size()},
        {"failed", run.FailedList.size()},
    };
    summary.Skipped.insert(summary.Skipped.end(), pathsSkipped.begin(), pathsSkipped.end());
    return summary;
}

int RunFiles(const TRunCommand& command, bool encrypting)
{
    TFileRun run;
    // Paths passed over before the run, by reason, named as they are met.
    std::vector<std::pair<std::string, std::uint64_t>> pathsSkipped{
        {"folder (use -r)", 0}, {"cannot be opened", 0}, {"folder cannot be listed", 0}};
    TProgressLine line(!command.Quiet);
    auto skip = [&line, &pathsSkipped](const std::string& path, const std::string& reason, std::size_t kind) {
        line.Message("skipped \"" + path + "\": " + reason);
        ++pathsSkipped[kind].second;
    };
    // Every file below a folder is anchored in its open folder as it is listed, so that the run
    // works on what was listed even if a folder is swapped for a link meanwhile.
    for (const std::string& path : command.paths) {
        if (IsDirectory(path)) {
            if (!command.recursive) {
                skip(path, "a folder (use -r to process the files in it)", 0);
                continue;
            }
            for (const std::string& folder : run.AddFolder(path)) {
                skip(folder, "the folder cannot be listed", 2);
            }
            continue;
        }
        try {
            AnchorPath(path);
        } catch (const EFileError& e) {
            skip(path, SystemErrorText(e.SystemError()), 1);
            continue;
        }
        run.AddFile(path);
    }
    const TSecureBuffer typed =
        encrypting ? ReadPassword(command.passwordFile, true) : ReadDecryptionPassword(command.passwordFile, run);
    if (encrypting && typed.empty()) {
        throw ECliExit(kExitUsage, "The Password can't be blank!");
    }
    // The overall bar goes by bytes, so a tree of small files moves as steadily as one large file.
    std::map<std::string, std::uint64_t> sizes;
    for (const std::string& path : run.WorkList) {
        const auto entry = FindEntry(path);
        sizes[path] = entry && entry->kind == TEntryKind::File ? entry->size : 0;
    }
    TCommandRunView view(line, encrypting, std::move(sizes), !command.Quiet);
    view.SetWorkList(run.WorkList);
    const auto summarize = [&] {
        line.Clear();
        if (!command.Quiet) {
            std::cerr << SummaryText(RunSummary(run, view, command, encrypting, pathsSkipped)) << std::flush;
        }
    };
    TRunOptions options = command.options;
    options.Jobs = WorkerCount(command.Jobs);
    TStopSignals signals;
    try {
        if (encrypting) {
            run.RunEncryption(typed.View(), options, view);
        } else {
            run.RunDecryption(typed.View(), options, view);
        }
    } catch (const ERunStopped&) {
        summarize();
        const int signal = StopSignal();
        const std::uint64_t files = run.WorkList.size();
        std::cerr << "Interrupted (signal " << signal << ") after " << GroupedNumber(view.FilesDone()) << " of "
                  << FilesText(files)
                  << ": the file being worked on keeps its source, and its partial output was removed.\n";
        return 128 + signal;
    } catch (...) {
        summarize();
        throw;
    }
    summarize();
    const bool skipped =
        std::any_of(pathsSkipped.begin(), pathsSkipped.end(), [](const auto& p) { return p.second > 0; }) ||
        !run.InUseList.empty() || !run.BadPasswordList.empty() || !run.AlreadyDoneList.empty() ||
        !run.UnsupportedList.empty() || !run.DamagedList.empty() || !run.OutputExistsList.empty() ||
        !run.FailedList.empty();
    return skipped ? kExitSkipped : kExitOk;
}

int RunInfo(const TInfoOptions& options)
{
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

int RunAlgorithms()
{
    // The names column comes last and holds no spaces: the shell completion reads it as the last word.
    for (const TAlgorithmInfo& info : AlgorithmTable()) {
        std::printf("%02d  %-20s %-9s %-13s %s\n", info.Index, std::string(info.Caption).c_str(),
                    std::string(info.Algorithm).c_str(), info.Create != nullptr ? "available" : "not available",
                    std::string(info.Names).c_str());
    }
    return kExitOk;
}

int RunSelftest()
{
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
} // namespace

TCommandRun AddEncryptCommand(CLI::App& tool)
{
    auto command = std::make_shared<TRunCommand>();
    AddRunCommand(tool, *command, true)
        .footer("Examples:\n"
                "  vellumox-cli encrypt report.odt\n"
                "      writes report.odt.enc; the password is asked twice on the terminal\n"
                "  vellumox-cli encrypt -a aes --source delete report.odt\n"
                "      encrypts report.odt in place with Rijndael (AES 256)\n"
                "  vellumox-cli encrypt -r --source shred --password-file pw.txt letters/\n"
                "      encrypts every file below letters/ in place, shredding each plaintext\n"
                "\n"
                "The password never comes from an argument. An existing PATH.enc is kept and its source "
                "skipped unless --force is given. Until an output is complete and flushed it is named "
                "OUTPUT.vellumox-partial.");
    return [command] { return RunFiles(*command, true); };
}

TCommandRun AddDecryptCommand(CLI::App& tool)
{
    auto command = std::make_shared<TRunCommand>();
    AddRunCommand(tool, *command, false)
        .footer("Examples:\n"
                "  vellumox-cli decrypt report.odt.enc\n"
                "      writes report.odt.dec\n"
                "  vellumox-cli decrypt --source delete --keep-date report.odt\n"
                "      decrypts report.odt in place, keeping its date\n"
                "  vellumox-cli decrypt -r --password-file - letters/ < pw.txt\n"
                "      decrypts every file below letters/ with the password in pw.txt\n"
                "\n"
                "Each file's header names its algorithm. Files that are not encrypted, or that the password "
                "does not open, are skipped and named on standard error.");
    return [command] { return RunFiles(*command, false); };
}

TCommandRun AddInfoCommand(CLI::App& tool)
{
    auto options = std::make_shared<TInfoOptions>();
    CLI::App& sub = *tool.add_subcommand(
        "info", "tell for each file whether it is encrypted, with which algorithm, and (given the password) "
                "which header form it has");
    AddPasswordFileOption(sub, options->passwordFile);
    AddFileOperands(sub, options->paths, options->recursive);
    sub.footer("Examples:\n"
               "  vellumox-cli info report.odt.enc\n"
               "  vellumox-cli info -r --password-file pw.txt letters/\n"
               "\n"
               "Without -r a folder is skipped with a note. A file whose header stores the older form (MD5 of "
               "the password, which is also its key) is named with a warning: decrypt it and encrypt it again.");
    return [options] { return RunInfo(*options); };
}

TCommandRun AddAlgorithmsCommand(CLI::App& tool)
{
    tool.add_subcommand("algorithms",
                        "list the 13 algorithm indexes and captions, which are available, and the names -a takes")
        ->footer("Example:\n"
                 "  vellumox-cli algorithms\n"
                 "\n"
                 "The last column holds the names that 'encrypt -a' takes for each algorithm, separated by commas "
                 "(aes, cast, 3des, rc4 ...); the index and the caption are taken too, in any case.");
    return RunAlgorithms;
}

TCommandRun AddSelftestCommand(CLI::App& tool)
{
    tool.add_subcommand("selftest", "run the known-answer checks of MD5 and every available cipher")
        ->footer("Example:\n"
                 "  vellumox-cli selftest\n"
                 "\n"
                 "Exit status 0 when every check passes, 3 when one fails.");
    return RunSelftest;
}
