// Client paths: whatever a client names, the local path lies below the root
// and has no "..", "." or empty component below it; CWD's walks likewise.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FileSystem/Paths.h"

namespace {

constexpr std::string_view Root = "R";

// Below the root: "/"-separated names, none empty, "." or "..".
void CheckBelowRoot(std::string_view path) {
    if (path.substr(0, Root.size()) != Root) __builtin_trap();
    std::string_view below = path.substr(Root.size());
    while (!below.empty()) {
        if (below[0] != '/') __builtin_trap();
        below.remove_prefix(1);
        std::string_view name = below.substr(0, below.find('/'));
        if (name.empty() || name == "." || name == "..") __builtin_trap();
        below.remove_prefix(name.size());
    }
}

bool Everything(const char*) { return true; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find('\n');
    std::string base = split == std::string::npos ? "" : text.substr(0, split);
    base = base.substr(0, std::strlen(base.c_str()));  // a directory text ends at a NUL
    std::string argument = split == std::string::npos ? text : text.substr(split + 1);
    argument = argument.substr(0, std::strlen(argument.c_str()));
    char local[PathSize];
    if (BuildLocalPath(Root, std::string(Root) + base, argument, local, sizeof local)) CheckBelowRoot(local);
    DirectoryTexts at, to;
    std::strcpy(at.Local, "R");
    std::strcpy(at.Current, "/");
    for (int step = 0; step < 2; ++step) {  // from the root, then from where the first step led
        char copy[PathSize];
        std::snprintf(copy, sizeof copy, "%s", argument.c_str());
        if (ChangeDirectoryNormalised(Root, at, copy, &to, Everything)) {
            CheckBelowRoot(to.Local);
            std::string current = to.Current;
            if (current != "/") CheckBelowRoot("R" + current);  // the same rules for the client's text
            at = to;
        }
        if (ChangeDirectory(Root, at, copy, &to, Everything)) {
            char resolved[PathSize];
            if (BuildLocalPath(Root, to.Local, "", resolved, sizeof resolved)) CheckBelowRoot(resolved);
        }
    }
    return 0;
}
