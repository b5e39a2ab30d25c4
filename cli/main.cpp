#include "cli/CliCommon.h"

#include <exception>
#include <functional>
#include <iostream>
#include <map>

namespace
{
const char* kUsage = R"(Usage: vellumox-cli COMMAND [OPTIONS] PATH...

Commands:
  encrypt [-a INDEX|NAME] [--password-file FILE] PATH...
                      encrypt each file into PATH.enc beside it (algorithm 0, Blowfish, by default)
  decrypt [--password-file FILE] PATH...
                      decrypt each encrypted file into its .dec output beside it
  info [--password-file FILE] PATH...
                      whether each file is encrypted, with which algorithm, and (given the
                      password) which header form it has
  algorithms          the 13 algorithm indexes and captions, and which are available
  selftest            run the known-answer checks of MD5 and every available cipher
  --help, --version

The password never comes from an argument: --password-file FILE reads the first line of FILE
("-" for standard input); without it the password is asked on the terminal without echo.

Exit status: 0 every file processed; 1 some files skipped (each named on standard error);
2 usage error; 3 an error stopped the work.
)";

int Dispatch(const std::string& command, const std::vector<std::string>& args)
{
    static const std::map<std::string, std::function<int(const std::vector<std::string>&)>> commands = {
        {"encrypt", RunEncryptCommand},       {"decrypt", RunDecryptCommand},
        {"info", RunInfoCommand},             {"algorithms", RunAlgorithmsCommand},
        {"selftest", RunSelftestCommand},
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
    std::vector<std::string> words(argv + 1, argv + argc);
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
