// What every command of the command-line tool shares: exit statuses, errors, the options several
// commands take, and the signals that stop a run.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSkipped = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitError = 3;

// A mistake in the command line: reported with the usage hint, exit status 2.
class EUsage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Ends a command with a given status and message (for example a refused password).
class ECliExit : public std::runtime_error
{
public:
    ECliExit(int status, const std::string& message) : std::runtime_error(message), m_status(status) {}
    int Status() const { return m_status; }

private:
    int m_status;
};

// The signal (SIGINT, SIGTERM or SIGHUP) that asked the running command to stop; 0 when none did.
int StopSignal();

// While it lives, SIGINT, SIGTERM and SIGHUP only record themselves (see StopSignal), so that the
// run can stop at a safe point, remove its partial output, print its summary and exit with
// 128 + the signal's number. With cancelWipes they also set ShredCancelled, so that a wipe stops
// after its current chunk.
class TStopSignals
{
public:
    explicit TStopSignals(bool cancelWipes = false);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;
};

namespace CLI
{
class App;
class Validator;
} // namespace CLI

// Each command is declared once on the tool's parser, options and help together, by its AddXCommand;
// the function it returns runs the command with what the parser stored.
using TCommandRun = std::function<int()>;

TCommandRun AddEncryptCommand(CLI::App& tool);
TCommandRun AddDecryptCommand(CLI::App& tool);
TCommandRun AddInfoCommand(CLI::App& tool);
TCommandRun AddAlgorithmsCommand(CLI::App& tool);
TCommandRun AddSelftestCommand(CLI::App& tool);

// A whole decimal number from low to high. The parser's own conversion would read "010" as octal
// and take "0x10"; a count typed in a shell means neither.
CLI::Validator WholeNumber(long long low, long long high);

// The PATH... operands of a command; "--" makes every word after it one.
void AddPathOperands(CLI::App& command, std::vector<std::string>& paths, const std::string& help);

// The options that encrypt, decrypt and shred share, with one wording everywhere.
void AddQuietOption(CLI::App& command, bool& quiet);
void AddJobsOption(CLI::App& command, unsigned& jobs);
void AddPasswordFileOption(CLI::App& command, std::optional<std::string>& passwordFile);
