// Virtual paths: from what a client names to local paths below its account's
// root. Each connection keeps two texts for where it stands: its current
// directory, the path the client sees, and its local directory, the same place
// on the local disk, which always begins with the root's text. Everything here
// but the file queries at the end is a pure function of its arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

constexpr size_t PathSize = 1024;  // a local path holds at most 1023 characters

// Joins base and then relative below root, resolving "." and ".." as names;
// false when ".." would leave the root or the result does not fit size.
bool JoinBelowRoot(std::string_view root, std::string_view base, std::string_view relative, char* buffer,
                   size_t size);

// The local path of a command argument: a name beginning with "/" is taken
// from the root, any other from the local directory. False when the name
// climbs above the root or the path does not fit the buffer.
bool BuildLocalPath(std::string_view root, std::string_view localDirectory, std::string_view argument, char* buffer,
                    size_t size);

// Where a connection stands: its local and current directory texts.
struct DirectoryTexts {
    char Local[PathSize];
    char Current[PathSize];
};

// Whether a local path names a directory (the caller asks the file system).
using DirectoryTest = std::function<bool(const char* localPath)>;

// Where CWD leads from `from`, for the account rooted at root. Rewrites the
// argument in place (backslashes to "/", one outer slash on each side
// removed), which the caller quotes when it fails. A relative name is looked
// for in the current directory first, then below the root; a name that began
// with "/" only below the root. True, with *to filled, when isDirectory finds
// a directory there and both texts fit.
bool ChangeDirectory(std::string_view root, const DirectoryTexts& from, char* argument, DirectoryTexts* to,
                     DirectoryTest isDirectory);

// The same with the extensions, as clients expect it: the argument (with
// backslashes read as "/") is resolved against the current directory, or the
// root when it begins with "/", into a normalised current directory ("." and
// ".." resolved, never above "/"); a relative name is looked up in the current
// directory only.
bool ChangeDirectoryNormalised(std::string_view root, const DirectoryTexts& from, std::string_view argument,
                               DirectoryTexts* to, DirectoryTest isDirectory);

// A client path made absolute and normalised: relative resolved against base
// (itself absolute), "." and ".." resolved, ".." at "/" staying there. False
// when the result does not fit size.
bool NormaliseClientPath(std::string_view base, std::string_view relative, char* buffer, size_t size);

// The part of a path built by BuildLocalPath that lies below the root:
// without the root's text and the slashes after it ("" for the root itself).
const char* BelowRootText(const char* localPath, std::string_view root);
