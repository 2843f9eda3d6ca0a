#include "core/Options.h"

ProgramOptions Options;
