// The shred command: the shred run of the command-line tool.
#pragma once

#include <string>
#include <vector>

// `vellumox-cli shred [--method 0-4] [--repeat N] [-r] [-y] PATH...`; args are the words after
// "shred". Prints its own output. Exit status: 0 all shredded, 1 some files failed, 2 usage error
// or no confirmation, 3 the work was stopped (Ctrl-C or an unexpected error).
int RunShredCommand(const std::vector<std::string>& args);
