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
    std::string line;
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode) != 0;
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    const bool got = console ? ReadConsoleLine(in, line) : static_cast<bool>(std::getline(std::cin, line));
    SetConsoleMode(in, mode);
#else
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    const bool got = static_cast<bool>(std::getline(std::cin, line));
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
