// The command-line tool's terminal: password prompts, answers, password files and the progress line.
#pragma once

#include "crypto/VXsecmem.h"

#include <cstdint>
#include <string>

// The command-line tool's few terminal needs, POSIX and Win32.
bool StdinIsTerminal();
bool StderrIsTerminal();

// Prompts on the terminal (standard error) and reads one line from standard input without echo.
// Echo comes back on every way out: return, exception, and SIGINT, SIGTERM or SIGHUP, which then
// end the program as they would have without the prompt. Throws std::runtime_error when there is
// no terminal or input ends.
TSecureBuffer ReadSecretLine(const std::string& prompt);
// Prompts on standard error and reads one line from standard input; false at end of input.
bool ReadAnswerLine(const std::string& prompt, std::string& answer);
// Reads the first line of a file ("-" for standard input) without its line end. Nothing of the
// file passes through a stream buffer that would keep a copy of it.
TSecureBuffer ReadFirstLine(const std::string& path);

// A one-line progress display on standard error, redrawn in place; silent when standard error is
// not a terminal. Redraws at most every 100 ms.
class TProgressLine
{
public:
    TProgressLine();
    ~TProgressLine();
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    // label: what is being done; done/total: bytes (or any units) for the bar; extra: shown after it.
    void Show(const std::string& label, std::uint64_t done, std::uint64_t total, const std::string& extra = {});
    // Clears the line so that ordinary messages can follow.
    void Clear();

private:
    bool m_enabled;
    bool m_drawn = false;
    std::uint64_t m_lastDrawMs = 0;
};
