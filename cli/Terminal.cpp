// The command-line tool's terminal: password prompts, answers, password files and the progress line.
#include "cli/Terminal.h"

#include "cli/CliCommon.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <iostream>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace
{
void StripLineEnd(std::string& line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
}

#ifdef _WIN32
// A line typed at the console, as UTF-8. The console hands its text over in UTF-16; read through
// std::cin it would arrive in the console's code page, whose bytes are not the UTF-8 that the
// password rule starts from, and the file could then not be opened on another system.
bool ReadConsoleLine(HANDLE in, std::string& line)
{
    std::wstring wide;
    wide.reserve(1024);
    wchar_t chunk[256];
    bool ended = false;
    while (!ended) {
        DWORD got = 0;
        if (!ReadConsoleW(in, chunk, 256, &got, nullptr) || got == 0) {
            break;
        }
        // Line input ends each line with CR LF; the LF ends it.
        for (DWORD i = 0; i < got && !ended; ++i) {
            ended = chunk[i] == L'\n';
            if (!ended && chunk[i] != L'\r') {
                wide.push_back(chunk[i]);
            }
        }
    }
    SecureZeroMemory(chunk, sizeof chunk);
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    line.assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, line.data(), size, nullptr, nullptr);
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
    return ended || !wide.empty();
}
#endif

// One byte at a time straight from the descriptor: a stream's buffer would keep a copy of the
// password that nothing wipes. 0 at the end, -1 on an error.
int ReadByte(int fd, std::uint8_t& byte)
{
    for (;;) {
#ifdef _WIN32
        const int got = _read(fd, &byte, 1);
#else
        const auto got = read(fd, &byte, 1);
#endif
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<int>(got);
    }
}

// Reads up to the line end (not kept, nor a carriage return before it).
bool ReadLineFrom(int fd, TSecureBuffer& line, int* error = nullptr)
{
    std::uint8_t byte = 0;
    int got = 0;
    while ((got = ReadByte(fd, byte)) == 1 && byte != '\n') {
        line.PushBack(byte);
    }
    if (got < 0 && error != nullptr) {
        *error = errno;
    }
    SecureFill(std::span(&byte, 1), 0);
    while (!line.empty() && line[line.size() - 1] == '\r') {
        line.PopBack();
    }
    return got == 1 || !line.empty();
}

#ifndef _WIN32
// The terminal's state before a prompt turned echo off, for the signal handler to put back. The
// handler may only read it and make async-signal-safe calls (tcsetattr, write, signal, raise).
termios g_promptTerminal{};
volatile std::sig_atomic_t g_promptActive = 0;
constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void EndPromptBySignal(int signalNumber)
{
    if (g_promptActive != 0) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_promptTerminal);
        const char newline = '\n';
        [[maybe_unused]] const auto written = write(STDERR_FILENO, &newline, 1);
    }
    // End as the signal would have ended us without the prompt, so the shell sees 128 + n.
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}
#endif

// Echo off for as long as it lives; echo back on every way out, signals included.
class TQuietTerminal
{
public:
    TQuietTerminal()
    {
#ifdef _WIN32
        m_in = GetStdHandle(STD_INPUT_HANDLE);
        GetConsoleMode(m_in, &m_mode);
        SetConsoleMode(m_in, m_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
        if (tcgetattr(STDIN_FILENO, &g_promptTerminal) != 0) {
            return;
        }
        m_saved = true;
        struct sigaction action
        {
        };
        action.sa_handler = EndPromptBySignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
            sigaction(kPromptSignals[i], nullptr, &m_oldActions[i]);
            // A signal the user's shell told us to ignore (nohup) stays ignored.
            if (m_oldActions[i].sa_handler != SIG_IGN) {
                sigaction(kPromptSignals[i], &action, nullptr);
            }
        }
        g_promptActive = 1;
        termios quiet = g_promptTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
#endif
    }
    ~TQuietTerminal()
    {
#ifdef _WIN32
        SetConsoleMode(m_in, m_mode);
#else
        if (!m_saved) {
            return;
        }
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_promptTerminal);
        g_promptActive = 0;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
            sigaction(kPromptSignals[i], &m_oldActions[i], nullptr);
        }
#endif
    }
    TQuietTerminal(const TQuietTerminal&) = delete;
    TQuietTerminal& operator=(const TQuietTerminal&) = delete;

private:
#ifdef _WIN32
    HANDLE m_in = nullptr;
    DWORD m_mode = 0;
#else
    bool m_saved = false;
    struct sigaction m_oldActions[std::size(kPromptSignals)]{};
#endif
};
} // namespace

bool StdinIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

TSecureBuffer ReadSecretLine(const std::string& prompt)
{
    if (!StdinIsTerminal()) {
        throw std::runtime_error("no terminal to ask for the password on (use --password-file)");
    }
    std::cerr << prompt << std::flush;
    TSecureBuffer line;
    bool got = false;
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode) != 0) {
        TQuietTerminal quiet;
        std::string text;
        got = ReadConsoleLine(in, text);
        line.Append(std::string_view(text));
        SecureFill(std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()), 0);
    } else {
        got = ReadLineFrom(0, line);
    }
#else
    {
        TQuietTerminal quiet;
        got = ReadLineFrom(0, line);
    }
#endif
    std::cerr << '\n';
    if (!got) {
        throw std::runtime_error("no password given");
    }
    return line;
}

bool ReadAnswerLine(const std::string& prompt, std::string& answer)
{
    std::cerr << prompt << std::flush;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    StripLineEnd(answer);
    return true;
}

TSecureBuffer ReadFirstLine(const std::string& path)
{
    // A password that cannot be had is a mistake in the command line, not a failed run.
    const auto reason = [](int error) { return std::generic_category().message(error); };
    TSecureBuffer line;
    int error = 0;
    if (path == "-") {
        if (!ReadLineFrom(0, line, &error)) {
            throw EUsage(error != 0 ? "cannot read the password from standard input: " + reason(error)
                                    : std::string("no password on standard input: it is empty"));
        }
        return line;
    }
#ifdef _WIN32
    // The path is UTF-8; a narrow open would read it in the system's code page.
    const int fd = _wopen(std::filesystem::path(std::u8string(path.begin(), path.end())).c_str(), _O_RDONLY | _O_BINARY);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
        throw EUsage("cannot open password file \"" + path + "\": " + reason(errno));
    }
    ReadLineFrom(fd, line, &error);
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    if (error != 0) {
        throw EUsage("cannot read password file \"" + path + "\": " + reason(error));
    }
    return line;
}

int TerminalColumns()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) != 0) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return columns;
        }
    }
#else
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return 80;
}

TProgressLine::TProgressLine(bool enabled) : m_enabled(enabled && StderrIsTerminal()), m_toTerminal(StderrIsTerminal())
{
}

TProgressLine::~TProgressLine()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        m_pending.reset();
        ClearLocked();
    }
    m_wake.notify_all();
    if (m_later.joinable()) {
        m_later.join();
    }
}

namespace
{
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}

void TProgressLine::Show(const TProgressState& state)
{
    if (!m_enabled) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    if (m_drawn && std::chrono::steady_clock::now() - m_lastDraw < kRedrawInterval) {
        m_pending = state;
        if (!m_later.joinable()) {
            m_later = std::thread([this] { DrawLater(); });
        }
        m_wake.notify_all();
        return;
    }
    DrawLocked(state);
}

void TProgressLine::DrawLater()
{
    std::unique_lock lock(m_mutex);
    while (!m_ending) {
        if (!m_pending) {
            m_wake.wait(lock);
            continue;
        }
        const auto due = m_lastDraw + kRedrawInterval;
        if (std::chrono::steady_clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        const TProgressState state = *m_pending;
        DrawLocked(state);
    }
}

void TProgressLine::DrawLocked(const TProgressState& state)
{
    m_pending.reset();
    m_lastDraw = std::chrono::steady_clock::now();
    // The last column stays empty: some terminals wrap as soon as it is written.
    const std::string line = ProgressLineText(state, TerminalColumns() - 1);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void TProgressLine::Message(const std::string& text)
{
    const std::lock_guard lock(m_mutex);
    ClearLocked();
    const std::string shown = m_toTerminal ? TerminalSafe(text) : text;
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void TProgressLine::Clear()
{
    const std::lock_guard lock(m_mutex);
    m_pending.reset();
    ClearLocked();
}

void TProgressLine::ClearLocked()
{
    if (m_drawn) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_drawn = false;
    }
}
