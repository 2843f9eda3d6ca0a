// The program's command line: the options and the usage text.
#pragma once

#include "core/Options.h"

enum class CommandLineOutcome { Run, Help, Refused, HashPassword };

// Reads argv into *options. Help: the usage went to standard output. Refused:
// one line naming the fault, then the usage, went to standard error.
// HashPassword: --hash-password was asked for.
CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options);
