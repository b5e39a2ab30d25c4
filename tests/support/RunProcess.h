#pragma once

#include <string>
#include <vector>

struct TProcessResult
{
    int exitCode = -1; // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with the given arguments (no shell), feeding `input` on its standard input and
// capturing both outputs. Standard input is a pipe, never a terminal.
TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = {}, const std::string& workingDir = {});
