// The command-line tool's entry: its usage text and the dispatch to the commands.
#include "cli/CliCommon.h"
#include "cli/ShredCommand.h"

#include <exception>
#include <functional>
#include <iostream>
#include <map>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <sys/resource.h>
#endif

namespace
{
#ifdef _WIN32
// The arguments as UTF-8, the form every path has inside the program. argv holds them in the
// system's code page, which cannot carry every name (and whose bytes are not UTF-8).
std::vector<std::string> Utf8Arguments()
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {};
    }
    std::vector<std::string> words;
    for (int i = 1; i < count; ++i) {
        const int length = static_cast<int>(wcslen(wide[i]));
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
        std::string word(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], length, word.data(), size, nullptr, nullptr);
        words.push_back(std::move(word));
    }
    LocalFree(wide);
    return words;
}
#endif

const char* kUsage = R"(Usage: vellumox-cli COMMAND [OPTIONS] PATH...

Commands:
  encrypt [-a INDEX|NAME] [--source leave|delete|shred] [--keep-date] [--mark-hidden]
          [-r] [-j N] [--verify] [--force] [--password-file FILE] PATH...
                      encrypt each file into PATH.enc (algorithm 0, Blowfish, by default); with
                      --source delete or shred the encrypted file takes the source's name
  decrypt [--source leave|delete|shred] [--keep-date] [-r] [-j N] [--verify] [--force]
          [--password-file FILE] PATH...
                      decrypt each encrypted file into its .dec output, or in place
  info [-r] [--password-file FILE] PATH...
                      whether each file is encrypted, with which algorithm, and (given the
                      password) which header form it has
  shred [--method 0-4] [--repeat N] [-r] [-j N] [-y] PATH...
                      overwrite each file, then rename it at random and delete it
  algorithms          the 13 algorithm indexes and captions, which are available, and the
                      names -a takes for each (aes, cast, 3des, rc4 ...), in any case
  selftest            run the known-answer checks of MD5 and every available cipher
  --help, --version

-r processes every file below the given folders (links are never followed). --verify reads each
output back and checks it against its source before the source is touched. --keep-date and
--mark-hidden apply with --source delete or shred: encrypt --keep-date gives the encrypted file
the source's modification time, decrypt --keep-date gives it back to the plaintext. An existing PATH.enc or .dec output is kept and
its source skipped unless --force is given. Until an output is complete and flushed it is named
OUTPUT.vellumox-partial; it takes its name in one rename. -j N works on N files at once (default
and 0: one per core; -j 1 one after another); the reports come in the list's order all the same.

The password never comes from an argument: --password-file FILE reads the first line of FILE
("-" for standard input); without it the password is asked on the terminal without echo.

Exit status: 0 every file processed; 1 some files skipped (each named on standard error, the
others processed); 2 usage error (a missing or unreadable password file, or an empty standard
input, included); 3 an error stopped the work; 128 + N stopped by signal N
(Ctrl-C, SIGTERM, SIGHUP: the current file's partial output is removed and its source kept).
)";

int Dispatch(const std::string& command, const std::vector<std::string>& args)
{
    static const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"encrypt", RunEncryptCommand},       {"decrypt", RunDecryptCommand},
        {"info", RunInfoCommand},             {"algorithms", RunAlgorithmsCommand},
        {"selftest", RunSelftestCommand},     {"shred", RunShredCommand},
    };
    const auto it = commands.find(command);
    if (it == commands.end()) {
        throw EUsage("unknown command '" + command + "'");
    }
    return it->second(args);
}
} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> words = Utf8Arguments();
    // What the program prints (paths above all) is UTF-8 too.
    SetConsoleOutputCP(CP_UTF8);
#else
    // A folder listing keeps each folder that holds files open until the run is done with them.
    struct rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    std::vector<std::string> words(argv + 1, argv + argc);
#endif
    if (words.empty()) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (words[0] == "--version") {
        std::cout << "vellumox-cli " << VX_VERSION << '\n';
        return kExitOk;
    }
    try {
        return Dispatch(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
    } catch (const ECliExit& e) {
        std::cerr << e.what() << '\n';
        return e.Status();
    } catch (const EUsage& e) {
        std::cerr << "vellumox-cli: " << e.what() << "\nTry 'vellumox-cli --help'.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "vellumox-cli: " << e.what() << '\n';
        return kExitError;
    }
}
