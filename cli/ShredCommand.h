// The shred command: the shred run of the command-line tool.
#pragma once

#include "cli/CliCommon.h"

// `vellumox-cli shred [--method 0-4] [--repeat N] [-r] [-y] PATH...`. Exit status: 0 all shredded,
// 1 some files were kept, 2 usage error or no terminal to confirm on, 3 an unexpected error or a
// cancel without a signal, 128 + N stopped by signal N.
TCommandRun AddShredCommand(CLI::App& tool);
