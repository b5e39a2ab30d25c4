#include "cli/Terminal.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace
{
std::uint64_t NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void StripLineEnd(std::string& line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
}
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

std::string ReadSecretLine(const std::string& prompt)
{
    if (!StdinIsTerminal()) {
        throw std::runtime_error("no terminal to ask for the password on (use --password-file)");
    }
    std::cerr << prompt << std::flush;
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
#endif
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
#ifdef _WIN32
    SetConsoleMode(in, mode);
#else
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
#endif
    std::cerr << '\n';
    if (!got) {
        throw std::runtime_error("no password given");
    }
    StripLineEnd(line);
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

std::string ReadFirstLine(const std::string& path)
{
    std::string line;
    if (path == "-") {
        if (!std::getline(std::cin, line) && line.empty()) {
            throw std::runtime_error("no password on standard input");
        }
    } else {
        // The path is UTF-8; on Windows a narrow path would be read in the system's code page.
        std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
        if (!in) {
            throw std::runtime_error("Cannot open password file \"" + path + "\"");
        }
        std::getline(in, line);
    }
    StripLineEnd(line);
    return line;
}

TProgressLine::TProgressLine() : m_enabled(StderrIsTerminal()) {}

TProgressLine::~TProgressLine()
{
    Clear();
}

void TProgressLine::Show(const std::string& label, std::uint64_t done, std::uint64_t total, const std::string& extra)
{
    if (!m_enabled) {
        return;
    }
    const std::uint64_t now = NowMs();
    if (m_drawn && done < total && now - m_lastDrawMs < 100) {
        return;
    }
    m_lastDrawMs = now;
    constexpr int width = 30;
    const int filled = total == 0 ? width : static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * width);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    std::string shown = label;
    if (shown.size() > 40) {
        shown = "..." + shown.substr(shown.size() - 37);
    }
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%% %s", shown.c_str(), bar.c_str(), percent, extra.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void TProgressLine::Clear()
{
    if (m_enabled && m_drawn) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_drawn = false;
    }
}
