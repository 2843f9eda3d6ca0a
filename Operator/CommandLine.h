// The program's command line: the options and the usage text.
#pragma once

#include "core/Options.h"

enum class CommandLineOutcome { Run, Help, Refused };

// Reads argv into *options. Help: the usage went to standard output. Refused:
// one line naming the fault, then the usage, went to standard error.
CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options);
