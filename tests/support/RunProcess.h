#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct TProcessResult
{
    int exitCode = -1; // -1 when a signal ended the process
    int signal = 0;    // the signal that ended it, else 0
    std::string out;
    std::string err;
};

// A child process with its standard input, output and error on pipes (so none is a terminal).
class TChildProcess
{
public:
    // program is run as given (no PATH search); args exclude the program itself.
    TChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal);
    // Feeds the input, collects both outputs until the child ends; kills it after timeout.
    TProcessResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_input;
    bool m_waited = false;
};

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = {}, std::chrono::milliseconds timeout = std::chrono::seconds(120));
