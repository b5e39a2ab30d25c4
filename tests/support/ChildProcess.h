#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A program left running so that a test can act on it (send it a signal) before collecting its
// end. Its standard input is closed; its standard error goes to errPath when given, and the rest
// of its output is discarded.
// Header-only so that any test executable can use it without a build change.
class TChildProcess
{
public:
    TChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& errPath = {})
    {
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        m_pid = ::fork();
        if (m_pid < 0) {
            throw std::runtime_error("fork failed");
        }
        if (m_pid == 0) {
            ::close(0);
            const int out = ::open("/dev/null", O_WRONLY);
            ::dup2(out, 1);
            if (!errPath.empty()) {
                ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            }
            ::setsid();
            ::signal(SIGINT, SIG_DFL);
            std::vector<char*> argv;
            for (std::string& w : words) {
                argv.push_back(w.data());
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~TChildProcess()
    {
        if (m_pid > 0 && !m_waited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    void Signal(int signal) { ::kill(m_pid, signal); }

    // The exit status, or -1 when a signal ended it or it outlived the timeout (then it is killed).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                m_waited = true;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_waited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_waited = false;
};
