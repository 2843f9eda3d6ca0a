#include "FileSystem/Paths.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "Connection/Session.h"
#include "core/Records.h"
#include "platform/Files.h"

namespace {

// Appends the components of a slash-separated path, resolving "." and "..".
// `floor` is the length of the root's text, which ".." never climbs past.
bool AppendComponents(std::string_view path, size_t floor, char* buffer, size_t size, size_t* length) {
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            // SECURITY: ".." may undo only what was added below the root.
            if (*length == floor) return false;
            while (*length > floor && buffer[*length - 1] != '/') --*length;
            --*length;  // the separator before the removed name
            continue;
        }
        if (*length + 1 + name.size() >= size) return false;
        buffer[(*length)++] = '/';
        std::memcpy(buffer + *length, name.data(), name.size());
        *length += name.size();
    }
    return true;
}

// Copies a text made of parts into a field; false (field unchanged) when it would not fit.
template <size_t Size>
bool SetText(char (&field)[Size], std::initializer_list<std::string_view> parts) {
    size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    if (total >= Size) return false;
    size_t length = 0;
    for (std::string_view part : parts) {
        std::memcpy(field + length, part.data(), part.size());
        length += part.size();
    }
    field[length] = '\0';
    return true;
}

// The part of LocalDirectory below the root.
std::string_view BelowRoot(const ConnectionRecord& record) {
    std::string_view local = record.LocalDirectory;
    std::string_view root = RootOf(record);
    return local.substr(0, root.size()) == root ? local.substr(root.size()) : std::string_view();
}

// Moves to a directory if it is one: the local text becomes `local`, the
// client's text `current`; both are checked to fit before either changes.
bool MoveTo(ConnectionRecord& record, std::string_view resolvedBase, std::string_view localBase,
            std::string_view currentBase, std::string_view currentSeparator, std::string_view argument) {
    char resolved[PathSize];
    std::string_view root = RootOf(record);
    if (!JoinBelowRoot(root, resolvedBase, argument, resolved, sizeof resolved)) return false;
    if (!FileExists(resolved, 1)) return false;
    size_t localLength = localBase.size() + 1 + argument.size();
    size_t currentLength = currentBase.size() + currentSeparator.size() + argument.size();
    if (localLength >= sizeof record.LocalDirectory || currentLength >= sizeof record.CurrentDirectory) return false;
    char current[sizeof record.CurrentDirectory];
    SetText(current, {currentBase, currentSeparator, argument});
    char local[sizeof record.LocalDirectory];
    SetText(local, {localBase, "/", argument});
    std::lock_guard<std::mutex> hold(SlotLock);  // the console may be showing them
    SetText(record.LocalDirectory, {local});
    SetText(record.CurrentDirectory, {current});
    return true;
}

}  // namespace

const char* RootOf(const ConnectionRecord& record) {
    int user = record.UserID.load();
    if (user < 0 || user >= UserCount || User[user]->DirectoryCount < 1) return "";
    return User[user]->Directories[0]->Path;
}

bool JoinBelowRoot(std::string_view root, std::string_view base, std::string_view relative, char* buffer,
                   size_t size) {
    if (root.size() >= size) return false;
    std::memcpy(buffer, root.data(), root.size());
    size_t length = root.size();
    if (!AppendComponents(base, root.size(), buffer, size, &length) ||
        !AppendComponents(relative, root.size(), buffer, size, &length))
        return false;
    buffer[length] = '\0';
    return true;
}

bool ChangeDirectory(ConnectionRecord& record, char* argument) {
    std::replace(argument, argument + std::strlen(argument), '\\', '/');
    size_t length = std::strlen(argument);
    if (length > 0 && argument[length - 1] == '/') argument[--length] = '\0';
    bool fromRoot = argument[0] == '/';
    if (fromRoot) std::memmove(argument, argument + 1, length--);
    std::string_view name(argument, length);
    std::string_view root = RootOf(record);
    if (name.empty()) {
        std::lock_guard<std::mutex> hold(SlotLock);
        SetText(record.LocalDirectory, {root});
        SetText(record.CurrentDirectory, {"/"});
        return true;
    }
    // A relative name is looked for in the current directory first, then below
    // the root; a name that began with "/" only below the root.
    if (!fromRoot) {
        std::string_view current = record.CurrentDirectory;
        std::string_view separator = !current.empty() && current.back() == '/' ? "" : "/";
        char local[sizeof record.LocalDirectory];
        SetText(local, {record.LocalDirectory});
        if (MoveTo(record, BelowRoot(record), local, current, separator, name)) return true;
    }
    return MoveTo(record, "", root, "", "/", name);
}

bool BuildLocalPath(const ConnectionRecord& record, std::string_view argument, char* buffer, size_t size) {
    std::string_view base = !argument.empty() && argument[0] == '/' ? std::string_view() : BelowRoot(record);
    return JoinBelowRoot(RootOf(record), base, argument, buffer, size);
}

int FileExists(const char* path, int wantDirectory) {
    PathKind kind = PathKindOf(path);
    if (kind == PathKind::Missing) return 0;
    return (kind == PathKind::Directory) == (wantDirectory != 0) ? 1 : 0;
}

int64_t FileSize(const char* path) { return FileSizeOf(path); }
