// The command-line options, read once by main before any other thread
// starts and unchanged afterwards. With none given, the server behaves as it
// always has; every extension is reached only through its option.
#pragma once

struct ProgramOptions {
    bool Extensions = false;  // --extensions: the commands and behaviour modern clients expect
};

extern ProgramOptions Options;

// Whether the extensions are on.
inline bool Extended() { return Options.Extensions; }
