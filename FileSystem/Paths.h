// Virtual paths: from what a client names to local paths below its account's
// root. Each connection keeps two texts for where it stands: CurrentDirectory,
// the path the client sees, and LocalDirectory, the same place on the local
// disk. LocalDirectory always begins with the root's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct ConnectionRecord;

// The root of the account the connection is logged in as.
const char* RootOf(const ConnectionRecord& record);

// Moves the connection to the directory the argument names; true when it moved.
// Rewrites the argument in place (backslashes to "/", one outer slash on each
// side removed); the caller quotes the rewritten text when it fails.
bool ChangeDirectory(ConnectionRecord& record, char* argument);

// The local path of a command argument: a name beginning with "/" is taken from
// the root, any other from the current directory. False when the name climbs
// above the root or the path does not fit the buffer.
bool BuildLocalPath(const ConnectionRecord& record, std::string_view argument, char* buffer, size_t size);

// Joins base and then relative below root, resolving "." and ".." as names;
// false when ".." would leave the root or the result does not fit size.
bool JoinBelowRoot(std::string_view root, std::string_view base, std::string_view relative, char* buffer,
                   size_t size);

// 1 when something of the wanted kind (a directory, or anything else) is at path.
int FileExists(const char* path, int wantDirectory);

// The size of a readable regular file, or -1.
int64_t FileSize(const char* path);
