// The command-line tool's entry: its commands, their help, and how a usage error is told.
#include "cli/CliCommon.h"
#include "cli/ShredCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

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

constexpr const char* kToolFooter =
    "Run 'vellumox-cli help COMMAND' or 'vellumox-cli COMMAND --help' for a command's options and examples.\n"
    "\n"
    "Examples:\n"
    "  vellumox-cli encrypt --source delete report.odt\n"
    "  vellumox-cli decrypt --source delete report.odt\n"
    "\n"
    "Options may stand anywhere after the command; '--' ends them. The password never comes from an "
    "argument: --password-file FILE reads the first line of FILE ('-' for standard input); without it "
    "the password is asked on the terminal without echo.\n"
    "\n"
    "Exit status: 0 every file processed; 1 some files skipped (each named on standard error, the "
    "others processed); 2 usage error (a missing or unreadable password file, or an empty standard "
    "input, included); 3 an error stopped the work; 128 + N stopped by signal N (Ctrl-C, SIGTERM, "
    "SIGHUP: the current file's partial output is removed and its source kept).";

// Help that fits an 80-column terminal: descriptions wrap beside their names.
class THelpFormatter final : public CLI::Formatter
{
public:
    static constexpr std::size_t kNameWidth = 30;
    static constexpr std::size_t kLineWidth = 80;

    THelpFormatter()
    {
        column_width(kNameWidth);
        label("SUBCOMMAND", "COMMAND");
        label("Positionals", "Operands");
    }

    std::string make_option_desc(const CLI::Option* option) const override
    {
        return Wrap(CLI::Formatter::make_option_desc(option), kLineWidth - kNameWidth);
    }
    std::string make_subcommand(const CLI::App* command) const override
    {
        std::ostringstream out;
        CLI::detail::format_help(out, command->get_name(), Wrap(command->get_description(), kLineWidth - kNameWidth),
                                 kNameWidth);
        return out.str();
    }
    // Hidden operands stay out of the usage line as they stay out of the list.
    std::string make_usage(const CLI::App* command, std::string name) const override
    {
        std::string usage = get_label("Usage") + ": " + name;
        if (!command->get_options([](const CLI::Option* option) { return option->nonpositional(); }).empty()) {
            usage += " [" + get_label("OPTIONS") + "]";
        }
        for (const CLI::Option* operand : command->get_options([](const CLI::Option* option) {
                 return option->get_positional() && !option->get_group().empty();
             })) {
            usage += " " + make_option_usage(operand);
        }
        if (!command->get_subcommands({}).empty()) {
            usage += " [" + get_label("SUBCOMMAND") + "]";
        }
        return usage + "\n";
    }
    // Paragraphs of prose reflow to the terminal's 80 columns; a paragraph with an indented line
    // (the examples) stays as written.
    std::string make_footer(const CLI::App* command) const override
    {
        const std::string footer = command->get_footer();
        std::string out;
        for (std::size_t start = 0; start < footer.size();) {
            std::size_t end = footer.find("\n\n", start);
            end = end == std::string::npos ? footer.size() : end;
            const std::string paragraph = footer.substr(start, end - start);
            out += (out.empty() ? "" : "\n\n") +
                   (paragraph.find("\n ") != std::string::npos ? paragraph : Wrap(paragraph, kLineWidth));
            start = end + 2;
        }
        return out.empty() ? out : out + "\n";
    }
    std::string make_description(const CLI::App* command) const override
    {
        return Wrap(command->get_description(), kLineWidth) + "\n";
    }

private:
    static std::string Wrap(const std::string& text, std::size_t width)
    {
        std::string wrapped;
        std::size_t lineLength = 0;
        std::istringstream words(text);
        for (std::string word; words >> word;) {
            if (lineLength > 0 && lineLength + 1 + word.size() > width) {
                wrapped += '\n';
                lineLength = 0;
            } else if (lineLength > 0) {
                wrapped += ' ';
                ++lineLength;
            }
            wrapped += word;
            lineLength += word.size();
        }
        return wrapped;
    }
};

// The tool's parser: every command with its options, and the help command that shows them.
class TTool
{
public:
    TTool() : m_app("Encrypt, decrypt and shred files with a password.", "vellumox-cli")
    {
        m_app.footer(kToolFooter);
        m_app.set_version_flag("--version", std::string("vellumox-cli ") + VX_VERSION, "print the version and exit");
        m_app.formatter(std::make_shared<THelpFormatter>());
        m_app.set_help_flag("-h,--help", "print this help and exit");
        // One command per line: after it, a command's name is a file's ("encrypt decrypt" encrypts
        // the file named decrypt) or the help command's topic.
        m_app.require_subcommand(0, 1);
        // "/r" is a path on every system, never an option.
        m_app.allow_windows_style_options(false);
        // An option given twice keeps its last value, as shells' aliases expect; a flag takes no
        // value ("--verify=yes" is a mistake, not a yes).
        m_app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
        m_runs = {
            {"encrypt", AddEncryptCommand(m_app)},       {"decrypt", AddDecryptCommand(m_app)},
            {"info", AddInfoCommand(m_app)},             {"shred", AddShredCommand(m_app)},
            {"algorithms", AddAlgorithmsCommand(m_app)}, {"selftest", AddSelftestCommand(m_app)},
        };
        std::vector<std::string> names;
        for (CLI::App* command : m_app.get_subcommands({})) {
            command->group("Commands");
            names.push_back(command->get_name());
        }
        CLI::App& help = *m_app.add_subcommand("help", "show the tool's help, or with COMMAND that command's");
        help.add_option("COMMAND", m_helpTopic, "the command to explain")->type_name("")->check(CLI::IsMember(names));
        help.group("Commands");
        help.footer("Examples:\n  vellumox-cli help\n  vellumox-cli help shred");
        m_runs["help"] = [this] {
            // The tool's help would show the help command's own, as the command chosen.
            std::cout << (m_helpTopic.empty()
                              ? m_app.get_formatter()->make_help(&m_app, "vellumox-cli", CLI::AppFormatMode::Normal)
                              : m_app.get_subcommand(m_helpTopic)->help("vellumox-cli"));
            return kExitOk;
        };
    }

    // Words in the order given, without the program's name.
    int Run(std::vector<std::string> words)
    {
        if (words.empty()) {
            std::cerr << m_app.help();
            return kExitUsage;
        }
        // The parser would call a mistyped command an unexpected argument.
        if (words[0].empty() || words[0][0] != '-') {
            if (m_runs.count(words[0]) == 0) {
                return UsageError("unknown command '" + words[0] + "'");
            }
        }
        try {
            std::reverse(words.begin(), words.end());
            m_app.parse(words);
        } catch (const CLI::CallForHelp&) {
            // Delegates to the command given, if any.
            std::cout << m_app.help();
            return kExitOk;
        } catch (const CLI::CallForVersion& e) {
            std::cout << e.what() << '\n';
            return kExitOk;
        } catch (const CLI::ParseError& e) {
            return UsageError(ParseErrorText(e));
        }
        const std::string command = Command();
        if (command.empty()) {
            return UsageError("no command given");
        }
        try {
            return m_runs.at(command)();
        } catch (const ECliExit& e) {
            std::cerr << e.what() << '\n';
            return e.Status();
        } catch (const EUsage& e) {
            return UsageError(e.what());
        } catch (const std::exception& e) {
            std::cerr << "vellumox-cli: " << e.what() << '\n';
            return kExitError;
        }
    }

private:
    // The command on the line, or "" when none was reached.
    std::string Command() const
    {
        const auto chosen = m_app.get_subcommands();
        return chosen.empty() ? std::string() : chosen.front()->get_name();
    }

    // The parser's own wording, in the tool's where the parser's is obscure.
    std::string ParseErrorText(const CLI::ParseError& error) const
    {
        const std::string text = error.what();
        if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
            const auto chosen = m_app.get_subcommands();
            const std::vector<std::string> extra = chosen.empty() ? m_app.remaining() : chosen.front()->remaining();
            if (!extra.empty()) {
                return (extra[0].size() > 1 && extra[0][0] == '-' ? "unknown option '" : "unexpected argument '") +
                       extra[0] + "'";
            }
        }
        const std::size_t flag = text.find(" was given a disallowed flag override");
        if (flag != std::string::npos) {
            return "option '--" + text.substr(0, flag) + "' takes no value";
        }
        return text;
    }

    // Every mistake in a command line is told the same way, with where to look for the right form.
    int UsageError(const std::string& message) const
    {
        const std::string command = Command();
        std::cerr << "vellumox-cli: " << message << "\nTry 'vellumox-cli " << (command.empty() ? "" : command + " ")
                  << "--help'.\n";
        return kExitUsage;
    }

    CLI::App m_app;
    std::map<std::string, TCommandRun> m_runs;
    std::string m_helpTopic;
};
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
    TTool tool;
    return tool.Run(std::move(words));
}
