#include "FileSystem/Paths.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>


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
bool SetText(char (&field)[PathSize], std::initializer_list<std::string_view> parts) {
    size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    if (total >= PathSize) return false;
    size_t length = 0;
    for (std::string_view part : parts) {
        if (!part.empty()) std::memcpy(field + length, part.data(), part.size());
        length += part.size();
    }
    field[length] = '\0';
    return true;
}

// The part of a local directory text below the root.
std::string_view BelowRoot(std::string_view root, std::string_view local) {
    return local.substr(0, root.size()) == root ? local.substr(root.size()) : std::string_view();
}

// Moves to a directory if it is one: the local text becomes localBase + "/" +
// name, the client's text currentBase + separator + name.
bool MoveTo(std::string_view root, std::string_view resolvedBase, std::string_view localBase,
            std::string_view currentBase, std::string_view separator, std::string_view name, DirectoryTexts* to,
            const DirectoryTest& isDirectory) {
    char resolved[PathSize];
    if (!JoinBelowRoot(root, resolvedBase, name, resolved, sizeof resolved)) return false;
    if (!isDirectory(resolved)) return false;
    return SetText(to->Local, {localBase, "/", name}) && SetText(to->Current, {currentBase, separator, name});
}

}  // namespace

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

const char* BelowRootText(const char* localPath, std::string_view root) {
    const char* below = localPath + root.size();
    while (*below == '/') ++below;
    return below;
}

bool BuildLocalPath(std::string_view root, std::string_view localDirectory, std::string_view argument, char* buffer,
                    size_t size) {
    if (root.empty()) return false;  // SECURITY: an empty root would make every path absolute
    std::string_view base = !argument.empty() && argument[0] == '/' ? std::string_view()
                                                                     : BelowRoot(root, localDirectory);
    return JoinBelowRoot(root, base, argument, buffer, size);
}

bool ChangeDirectory(std::string_view root, const DirectoryTexts& from, char* argument, DirectoryTexts* to,
                     DirectoryTest isDirectory) {
    if (root.empty()) return false;
    std::replace(argument, argument + std::strlen(argument), '\\', '/');
    size_t length = std::strlen(argument);
    if (length > 0 && argument[length - 1] == '/') argument[--length] = '\0';
    bool fromRoot = argument[0] == '/';
    if (fromRoot) std::memmove(argument, argument + 1, length--);
    std::string_view name(argument, length);
    if (name.empty()) return SetText(to->Local, {root}) && SetText(to->Current, {"/"});
    if (!fromRoot) {
        std::string_view current = from.Current;
        std::string_view separator = !current.empty() && current.back() == '/' ? "" : "/";
        if (MoveTo(root, BelowRoot(root, from.Local), from.Local, current, separator, name, to, isDirectory))
            return true;
    }
    return MoveTo(root, "", root, "", "/", name, to, isDirectory);
}

bool NormaliseClientPath(std::string_view base, std::string_view relative, char* buffer, size_t size) {
    size_t length = 0;
    auto append = [&](std::string_view path) {
        while (!path.empty()) {
            size_t slash = path.find('/');
            std::string_view name = path.substr(0, slash);
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
            if (name.empty() || name == ".") continue;
            if (name == "..") {  // at the root it stays at the root
                while (length > 0 && buffer[length - 1] != '/') --length;
                if (length > 0) --length;
                continue;
            }
            if (length + 1 + name.size() >= size) return false;
            buffer[length++] = '/';
            std::memcpy(buffer + length, name.data(), name.size());
            length += name.size();
        }
        return true;
    };
    if (size < 2) return false;
    if (!(relative.empty() || relative[0] != '/' ? append(base) : true) || !append(relative)) return false;
    if (length == 0) buffer[length++] = '/';
    buffer[length] = '\0';
    return true;
}

bool ChangeDirectoryNormalised(std::string_view root, const DirectoryTexts& from, std::string_view argument,
                               DirectoryTexts* to, DirectoryTest isDirectory) {
    if (root.empty()) return false;
    char name[PathSize];
    if (argument.size() >= sizeof name) return false;
    std::replace_copy(argument.begin(), argument.end(), name, '\\', '/');
    char current[PathSize];
    if (!NormaliseClientPath(from.Current, std::string_view(name, argument.size()), current, sizeof current))
        return false;
    std::string_view below = std::string_view(current) == "/" ? std::string_view() : std::string_view(current);
    if (!SetText(to->Local, {root, below}) || !isDirectory(to->Local)) return false;
    return SetText(to->Current, {current});
}
