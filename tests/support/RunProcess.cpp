#include "tests/support/RunProcess.h"

#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                          const std::string& workingDir)
{
    // Outputs go to files rather than pipes so that no buffer can fill up and stall the child.
    TTempDir capture;
    const std::string outPath = capture / "out";
    const std::string errPath = capture / "err";
    const std::string inPath = capture / "in";
    WriteText(inPath, input);

    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setsid(); // no controlling terminal: the tool must not find one to prompt on
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    TProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto out = ReadAll(outPath);
    const auto err = ReadAll(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}
