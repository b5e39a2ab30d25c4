#include "tests/support/RunProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
void MakePipe(int fds[2])
{
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
}

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input)
    : m_input(input)
{
    // A child that stops reading its input must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    int err[2];
    MakePipe(in);
    MakePipe(out);
    MakePipe(err);
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (m_pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_in = in[1];
    m_out = out[0];
    m_err = err[0];
}

TChildProcess::~TChildProcess()
{
    if (!m_waited && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_in);
    CloseFd(m_out);
    CloseFd(m_err);
}

void TChildProcess::Signal(int signal)
{
    ::kill(m_pid, signal);
}

TProcessResult TChildProcess::Wait(std::chrono::milliseconds timeout)
{
    TProcessResult result;
    std::size_t fed = 0;
    if (m_input.empty()) {
        CloseFd(m_in);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_out >= 0 || m_err >= 0 || m_in >= 0) {
        pollfd fds[3];
        int n = 0;
        if (m_in >= 0) {
            fds[n++] = {m_in, POLLOUT, 0};
        }
        if (m_out >= 0) {
            fds[n++] = {m_out, POLLIN, 0};
        }
        if (m_err >= 0) {
            fds[n++] = {m_err, POLLIN, 0};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(m_pid, SIGKILL);
            break;
        }
        if (::poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count())) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            if (fds[i].fd == m_in) {
                const ssize_t put = ::write(m_in, m_input.data() + fed, m_input.size() - fed);
                if (put > 0) {
                    fed += static_cast<std::size_t>(put);
                }
                if (put <= 0 || fed == m_input.size()) {
                    CloseFd(m_in);
                }
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got <= 0) {
                if (fds[i].fd == m_out) {
                    CloseFd(m_out);
                } else {
                    CloseFd(m_err);
                }
                continue;
            }
            (fds[i].fd == m_out ? result.out : result.err).append(chunk, static_cast<std::size_t>(got));
        }
    }
    CloseFd(m_in);
    CloseFd(m_out);
    CloseFd(m_err);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_waited = true;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input, std::chrono::milliseconds timeout)
{
    TChildProcess child(program, args, input);
    return child.Wait(timeout);
}
