// vellumox-cli's help for every command, and its one way of telling a usage error.
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

namespace {

TProcessResult Cli(const std::vector<std::string>& args, const std::string& input = {})
{
    return RunProcess(VX_CLI_PATH, args, input);
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Every line of a help fits a terminal of 80 columns.
void ExpectFitsEightyColumns(const std::string& help)
{
    std::size_t start = 0;
    for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
    }
}

// Each command's own options, and options of other commands that its help must not show.
struct THelpCase
{
    std::vector<std::string> own;
    std::vector<std::string> foreign;
};

const std::map<std::string, THelpCase> kCommands = {
    {"encrypt",
     {{"--algorithm", "--source", "--keep-date", "--mark-hidden", "--verify", "--force", "--password-file", "--quiet",
       "--jobs", "--recursive", "PATH"},
      {"--method", "--repeat", "COMMAND"}}},
    {"decrypt",
     {{"--source", "--keep-date", "--verify", "--force", "--password-file", "--quiet", "--jobs", "--recursive"},
      {"--algorithm", "--mark-hidden", "--method"}}},
    {"info", {{"--password-file", "--recursive", "PATH"}, {"--source", "--method", "--jobs"}}},
    {"shred",
     {{"--method", "--repeat", "--yes", "--quiet", "--jobs", "--recursive", "PATH"}, {"--password-file", "--source"}}},
    {"algorithms", {{"--help"}, {"--password-file", "PATH", "--method"}}},
    {"selftest", {{"--help"}, {"--password-file", "PATH", "--method"}}},
};

TEST(CliHelp, EveryCommandExplainsItselfTheSameWayThreeWays)
{
    for (const auto& [command, expected] : kCommands) {
        SCOPED_TRACE(command);
        const auto asked = Cli({command, "--help"});
        EXPECT_EQ(asked.exitCode, 0) << asked.err;
        EXPECT_EQ(asked.err, "");
        EXPECT_TRUE(Contains(asked.out, "Usage: vellumox-cli " + command + " ")) << asked.out;
        EXPECT_TRUE(Contains(asked.out, "vellumox-cli " + command + "\n") ||
                    Contains(asked.out, "vellumox-cli " + command + " -"))
            << "no example of the command in:\n"
            << asked.out;
        for (const std::string& option : expected.own) {
            EXPECT_TRUE(Contains(asked.out, option)) << option << " missing from:\n" << asked.out;
        }
        for (const std::string& option : expected.foreign) {
            EXPECT_FALSE(Contains(asked.out, option)) << option << " is not " << command << "'s:\n" << asked.out;
        }
        ExpectFitsEightyColumns(asked.out);

        const auto shortly = Cli({command, "-h"});
        EXPECT_EQ(shortly.exitCode, 0);
        EXPECT_EQ(shortly.out, asked.out);
        const auto viaHelp = Cli({"help", command});
        EXPECT_EQ(viaHelp.exitCode, 0) << viaHelp.err;
        EXPECT_EQ(viaHelp.out, asked.out);
        // Asking for help is enough: the options and operands around it are not checked or run.
        const auto amid = Cli({command, "--bogus", "-h", "no-such-file"});
        EXPECT_EQ(amid.exitCode, 0) << amid.err;
        EXPECT_EQ(amid.out, asked.out);
    }
}

TEST(CliHelp, TheToolsHelpListsEveryCommandAndNoArgumentsIsAUsageError)
{
    const auto help = Cli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const auto& [command, expected] : kCommands) {
        EXPECT_TRUE(Contains(help.out, "\n  " + command + " ")) << command << " missing from:\n" << help.out;
    }
    EXPECT_TRUE(Contains(help.out, "Exit status")) << help.out;
    ExpectFitsEightyColumns(help.out);
    EXPECT_EQ(Cli({"-h"}).out, help.out);
    EXPECT_EQ(Cli({"help"}).out, help.out);
    EXPECT_EQ(Cli({"help"}).exitCode, 0);

    const auto nothing = Cli({});
    EXPECT_EQ(nothing.exitCode, 2);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err, help.out);
}

TEST(CliHelp, EveryUsageErrorIsToldOneWayWithStatusTwoAndTouchesNothing)
{
    TTempDir dir;
    const std::string file = dir / "f";
    WriteText(file, "untouched");
    WriteText(dir / "pw", "pw\n");
    const std::string pw = dir / "pw";
    struct TCase
    {
        std::vector<std::string> args;
        std::string command; // whose help the hint names; "" for the tool's
        std::string says;
    };
    const std::vector<TCase> cases = {
        {{"frobnicate", file}, "", "unknown command 'frobnicate'"},
        {{"--bogus"}, "", "unknown option '--bogus'"},
        {{"encrypt", "--password-file", pw, "--bogus", file}, "encrypt", "unknown option '--bogus'"},
        {{"encrypt", "--password-file", pw, "-a", "enigma", file}, "encrypt", "'enigma'"},
        {{"encrypt", "--password-file", pw, "-j", "x", file}, "encrypt", "\"x\""},
        {{"encrypt", "--password-file", pw}, "encrypt", "PATH"},
        {{"encrypt", "--verify=yes", "--password-file", pw, file}, "encrypt", "'--verify' takes no value"},
        {{"encrypt", file, "-a"}, "encrypt", "--algorithm"},
        {{"encrypt", file}, "encrypt", "no terminal"},
        {{"decrypt", "--password-file", pw, "--mark-hidden", file}, "decrypt", "unknown option '--mark-hidden'"},
        {{"decrypt", "--password-file", pw, "--source", "burn", file}, "decrypt", "'burn'"},
        {{"decrypt", "--password-file", dir / "no-such-file", file}, "decrypt", "No such file or directory"},
        {{"decrypt", "-q"}, "decrypt", "PATH"},
        {{"info", "-x", file}, "info", "unknown option '-x'"},
        {{"info"}, "info", "PATH"},
        {{"shred", "-y", "--method", "5", file}, "shred", "\"5\""},
        {{"shred", "-y", "--repeat", "0", file}, "shred", "\"0\""},
        {{"shred", "-yz", file}, "shred", "unknown option '-z'"},
        {{"shred", "-y", "-j", "-1", file}, "shred", "--jobs"},
        {{"shred", "-y"}, "shred", "PATH"},
        {{"shred", file}, "shred", "no terminal to confirm on"},
        {{"algorithms", file}, "algorithms", "unexpected argument"},
        {{"selftest", "--bogus"}, "selftest", "unknown option '--bogus'"},
        {{"help", "frobnicate"}, "help", "frobnicate"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = Cli(c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, "");
        const std::string hint = "Try 'vellumox-cli " + (c.command.empty() ? "" : c.command + " ") + "--help'.\n";
        ASSERT_GT(r.err.size(), hint.size()) << r.err;
        EXPECT_EQ(r.err.substr(0, 14), "vellumox-cli: ") << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - hint.size()), hint) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
        EXPECT_EQ(ReadAll(file), Text("untouched"));
        EXPECT_FALSE(Exists(file + ".enc"));
    }
}

TEST(CliHelp, OperandsKeepTheirPlaceWhateverTheyLookLike)
{
    TTempDir dir;
    WriteText(dir / "pw", "pw\n");
    const std::string pw = dir / "pw";
    // A command's name after the command is a file's; words after "--" are files even once a path
    // came before them.
    for (const char* name : {"decrypt", "help", "-a", "--force"}) {
        WriteText(dir / name, name);
    }
    const auto r = RunProcess(VX_CLI_PATH, {"encrypt", "-q", "-j", "2", "--password-file", pw, "decrypt", "help", "--",
                                            "-a", "--force"},
                              {}, dir.Path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"decrypt", "help", "-a", "--force"}) {
        EXPECT_TRUE(Exists(dir / (std::string(name) + ".enc"))) << name << ": " << r.err;
    }

    // An option given twice keeps its last value.
    WriteText(dir / "twice", "twice");
    const auto twice = Cli({"encrypt", "-a", "2", "--algorithm=rc4", "--password-file", pw, dir / "twice"});
    EXPECT_EQ(twice.exitCode, 0) << twice.err;
    EXPECT_EQ(ReadAll(dir / "twice.enc")[4], '7');
}

// What the shell completion offers after words: it reads the commands and options from the
// tool's help, so a help that changes its layout must not leave it offering nothing. Stand-ins for
// bash-completion's helpers keep the test to bash itself.
std::vector<std::string> Completions(const std::vector<std::string>& words)
{
    const std::string script = R"(
_init_completion() {
    words=("${TEST_WORDS[@]}"); cword=$((${#words[@]} - 1)); cur="${words[cword]}"; prev="${words[cword - 1]}"
}
_filedir() { COMPREPLY=(FILES); }
complete() { :; }
source "$1"
TEST_WORDS=("${@:2}")
_vellumox_cli
printf '%s\n' "${COMPREPLY[@]}"
)";
    std::vector<std::string> args = {"-c", script, "bash", VX_COMPLETION_PATH, VX_CLI_PATH};
    args.insert(args.end(), words.begin(), words.end());
    const auto r = RunProcess("/bin/bash", args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> offered;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            offered.push_back(line);
        }
    }
    std::sort(offered.begin(), offered.end());
    return offered;
}

TEST(CliHelp, TheShellCompletionOffersWhatTheHelpDeclares)
{
    using List = std::vector<std::string>;
    EXPECT_EQ(Completions({"s"}), (List{"selftest", "shred"}));
    EXPECT_EQ(Completions({"help", "de"}), (List{"decrypt"}));
    EXPECT_EQ(Completions({"shred", "-y", "--re"}), (List{"--recursive", "--repeat"}));
    EXPECT_EQ(Completions({"info", "-"}), (List{"--help", "--password-file", "--recursive", "-h", "-r"}));
    EXPECT_EQ(Completions({"decrypt", "--source", ""}), (List{"delete", "leave", "shred"}));
    EXPECT_EQ(Completions({"encrypt", "-a", "tw"}), (List{"twofish"}));
    EXPECT_EQ(Completions({"encrypt", "--password-file", "x"}), (List{"FILES"}));
    EXPECT_EQ(Completions({"encrypt", "-r", "x"}), (List{"FILES"}));
    EXPECT_EQ(Completions({"shred", "-j", ""}), List{});
}
} // namespace
