// What every command of the command-line tool shares: the shared options and the stop signals.
#include "cli/CliCommon.h"

#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <limits>

namespace
{
// More threads than this only queue behind each other on the disk.
constexpr long long kMaxJobs = 1024;

std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_cancelWipes{false};

#ifdef SIGHUP
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
#endif

extern "C" void OnStopSignal(int signal)
{
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signal);
    if (g_cancelWipes) {
        ShredCancelled = true;
    }
#ifdef _WIN32
    // The C runtime on Windows resets the handler before calling it.
    std::signal(signal, OnStopSignal);
#endif
}
} // namespace

int StopSignal()
{
    return g_stopSignal;
}

TStopSignals::TStopSignals(bool cancelWipes)
{
    g_stopSignal = 0;
    g_cancelWipes = cancelWipes;
    for (const int signal : kStopSignals) {
        std::signal(signal, OnStopSignal);
    }
}

TStopSignals::~TStopSignals()
{
    for (const int signal : kStopSignals) {
        std::signal(signal, SIG_DFL);
    }
    g_cancelWipes = false;
}

CLI::Validator WholeNumber(long long low, long long high)
{
    const std::string range = high == std::numeric_limits<std::int32_t>::max()
                                  ? "from " + std::to_string(low)
                                  : std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            const bool digits = !text.empty() && text.size() <= 10 &&
                                std::all_of(text.begin(), text.end(),
                                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
            const long long value = digits ? std::stoll(text) : -1;
            if (!digits || value < low || value > high) {
                return "takes a whole number " + range + ", not \"" + text + "\"";
            }
            // Without the leading zeros the parser's conversion cannot take the number for octal.
            text = std::to_string(value);
            return {};
        },
        "", "WholeNumber");
}

void AddPathOperands(CLI::App& command, std::vector<std::string>& paths, const std::string& help)
{
    command.add_option("PATH", paths, help)->required()->type_name("");
    // Once PATH holds a word, the parser hands whatever follows a "--" back to the tool instead of
    // taking it as operands ("c -- -a" would fail on "-a"). An operand that is never filled keeps
    // them here; it is hidden, and a word that reached it would still be a path.
    command
        .add_option_function<std::string>(
            "MORE", [&paths](const std::string& path) { paths.push_back(path); }, "")
        ->group("");
}

void AddQuietOption(CLI::App& command, bool& quiet)
{
    command.add_flag("-q,--quiet", quiet, "print only errors: no progress, notes or summary");
}

void AddJobsOption(CLI::App& command, unsigned& jobs)
{
    command.add_option("-j,--jobs", jobs, "work on N files at once; 0 (the default) means one per processor core")
        ->type_name("N")
        ->check(WholeNumber(0, kMaxJobs));
}

void AddPasswordFileOption(CLI::App& command, std::optional<std::string>& passwordFile)
{
    command
        .add_option_function<std::string>(
            "--password-file", [&passwordFile](const std::string& path) { passwordFile = path; },
            "read the password from the first line of FILE (- for standard input) instead of asking for it on "
            "the terminal")
        ->type_name("FILE");
}
