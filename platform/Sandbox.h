// The filesystem sandbox (--sandbox), with Linux's Landlock: once applied,
// the calling thread and every thread it starts afterwards may open files only
// where the rules allow, whatever a fault elsewhere in the program would try.
#pragma once

#include <string>
#include <vector>

struct SandboxRules {
    std::vector<std::string> ReadWriteTrees;   // the account roots: read, write, create, remove, rename
    std::vector<std::string> AppendDirectories;  // the log files' folders: open files for writing, create them
    std::vector<std::string> ReadFiles;        // the certificate and key, name resolution's files
    bool NameResolution = false;               // what a host name's lookup reads (/etc/hosts, NSS modules)
    bool ProcessFigures = false;               // the process's own /proc entries and /proc/stat (--metrics)
};

enum class SandboxStatus { Applied, Unavailable, Failed };

// Applies the rules for good. Unavailable when the kernel has no Landlock;
// Failed, with *fault, when a step failed (nothing is restricted then).
// A path that does not exist is left out.
SandboxStatus ApplySandbox(const SandboxRules& rules, std::string* fault);
