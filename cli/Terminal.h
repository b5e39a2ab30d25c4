// The command-line tool's terminal: password prompts, answers, password files and the progress line.
#pragma once

#include "cli/Progress.h"
#include "crypto/VXsecmem.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

// The terminal's width in columns (80 when standard error is no terminal or does not say).
int TerminalColumns();

// The progress line on standard error, redrawn in place at most ten times a second and never wider
// than the terminal, whose width is read again at every redraw so that resizing is followed. A state
// that came too soon after the last redraw is drawn a little later all the same, so that a stage
// that reports nothing while it lasts (a verification, a wipe) still shows. Every message goes
// through Message, which clears the line first, so that the two never share a line. Safe to call
// from several threads. Draws nothing when disabled (quiet, or standard error is no terminal);
// messages are written all the same.
class TProgressLine final : public TProgressSink
{
public:
    explicit TProgressLine(bool enabled);
    ~TProgressLine() override;
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    void Show(const TProgressState& state) override;
    void Message(const std::string& text) override;
    // Clears the line, and forgets what was still to be drawn, so that ordinary output can follow.
    void Clear();

private:
    void DrawLocked(const TProgressState& state);
    void ClearLocked();
    void DrawLater();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    const bool m_enabled;
    // Names reach a terminal only made safe; a file or a pipe gets them as they are.
    const bool m_toTerminal;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::optional<TProgressState> m_pending;
    bool m_ending = false;
    // Draws the pending state once its time has come; started with the first state held back.
    std::thread m_later;
};
