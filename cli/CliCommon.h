// What every command of the command-line tool shares: exit statuses, errors, the option reader
// and the signals that stop a run.
#pragma once

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

// Walks the words after the command name. Options may stand anywhere; "--" ends them. A word of
// one-letter flags ("-ry") gives them one at a time, and "--name=value" or "-aVALUE" hands its
// value to Value(). Every other word is an operand.
class TArgReader
{
public:
    explicit TArgReader(std::vector<std::string> args) : m_args(std::move(args)) {}

    // The next option's name ("--source", "-r"), or nothing when only operands are left. Throws
    // EUsage when the option before was given a value it does not take.
    std::optional<std::string> NextOption();
    // The value of the option just returned; throws EUsage when it is missing.
    std::string Value(const std::string& option);
    const std::vector<std::string>& Operands() const { return m_operands; }

private:
    std::vector<std::string> m_args;
    std::size_t m_next = 0;
    bool m_operandsOnly = false;
    std::vector<std::string> m_operands;
    std::string m_option;
    std::string m_shortFlags;
    std::optional<std::string> m_inlineValue;
};

// The value of -j/--jobs: how many files are worked on at once, 0 for one per core (the default).
unsigned ParseJobs(const std::string& value);

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

int RunEncryptCommand(const std::vector<std::string>& args);
int RunDecryptCommand(const std::vector<std::string>& args);
int RunInfoCommand(const std::vector<std::string>& args);
int RunAlgorithmsCommand(const std::vector<std::string>& args);
int RunSelftestCommand(const std::vector<std::string>& args);
