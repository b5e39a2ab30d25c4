#pragma once

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

// Walks the words after the command name: options (with or without a value) and operands. Options
// may stand anywhere; "--" ends them.
class TArgReader
{
public:
    explicit TArgReader(std::vector<std::string> args) : m_args(std::move(args)) {}

    bool Done() const { return m_next >= m_args.size(); }
    // True when the next word is an option (and not an operand after "--").
    bool AtOption();
    const std::string& Take() { return m_args[m_next++]; }
    // The value of the option just taken; throws EUsage when it is missing.
    std::string Value(const std::string& option);

private:
    std::vector<std::string> m_args;
    std::size_t m_next = 0;
    bool m_operandsOnly = false;
};

int RunEncryptCommand(const std::vector<std::string>& args);
int RunDecryptCommand(const std::vector<std::string>& args);
int RunInfoCommand(const std::vector<std::string>& args);
int RunAlgorithmsCommand(const std::vector<std::string>& args);
int RunSelftestCommand(const std::vector<std::string>& args);
