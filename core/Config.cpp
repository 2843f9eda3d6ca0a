#include "core/Config.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/Records.h"

int fgetline(FILE* file, char* buffer, int size) {
    if (size <= 0) return 0;
    std::memset(buffer, 0, static_cast<size_t>(size));
    int length = 0;
    int c = EOF;
    while (length < size - 1 && (c = std::getc(file)) != EOF) {
        buffer[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (length == 0 && c == EOF) return std::ferror(file) ? -2 : -1;
    if (buffer[length - 1] == '\n') buffer[--length] = '\0';
    return length;
}

char* rtrimstr(char* text) {
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\r')) text[--length] = '\0';
    return text;
}

char* ltrimstr(char* text) {
    size_t skip = std::strspn(text, " \n");
    if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    return text;
}

int ConfigNumber(const char* value) {
    errno = 0;
    long long number = std::strtoll(value, nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

int GetData(ConfigFile& file, char* buffer) {
    for (;;) {
        int length = fgetline(file.File, buffer, ConfigValueSize);
        if (length < 0) {
            buffer[0] = '\0';
            return 0;
        }
        ++file.Line;
        if (length == ConfigValueSize - 1) {
            // A full buffer without its newline: a line of exactly 255 characters
            // ends here (a CR before its newline belongs to the line end); a
            // longer one is cut, never split into two values.
            int next = std::getc(file.File);
            if (next == '\r') {
                next = std::getc(file.File);
                if (next != '\n' && next != EOF) next = '\r';  // a CR inside the line: the line goes on
            }
            if (next != '\n' && next != EOF) {
                ConsolePrintf("Config line %d is longer than %d characters: the rest of it is ignored.\n",
                              file.Line, ConfigValueSize - 1);
                while (next != '\n' && next != EOF) next = std::getc(file.File);
            }
        }
        ltrimstr(rtrimstr(buffer));
        if (buffer[0] == '\0' || buffer[0] == '/') continue;
        if (std::strcmp(buffer, "NULL") == 0) {
            buffer[0] = '\0';
            return 0;
        }
        return static_cast<int>(std::strlen(buffer));
    }
}

namespace {

// Copies a value into a text field, cutting it to the field's size.
template <size_t Size>
void CopyText(char (&field)[Size], const char* value) {
    size_t length = std::min(std::strlen(value), Size - 1);
    std::memcpy(field, value, length);
    field[length] = '\0';
}

int ReadNumber(ConfigFile& file, char* value) {
    GetData(file, value);
    return ConfigNumber(value);
}

bool ReadServers(ConfigFile& file, char* value) {
    int count = ReadNumber(file, value);
    if (count < 0 || count > ServerCapacity) {
        ConsolePrintf("Config refused: the server count %d is not between 0 and %d.\n", count, ServerCapacity);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        GetData(file, value);  // the server's number in the file; its position counts instead
        auto server = std::make_unique<ServerRecord>();
        server->ID = i;
        GetData(file, value);
        CopyText(server->Name, value);
        server->State = ReadNumber(file, value);
        GetData(file, value);
        CopyText(server->IP, value);
        server->Port = ReadNumber(file, value);
        server->MaxConnections = ReadNumber(file, value);
        GetData(file, value);
        CopyText(server->WelcomeText, value);
        GetData(file, value);
        CopyText(server->GoodByeText, value);
        Server[i] = std::move(server);
        ServerCount = i + 1;
    }
    return true;
}

bool ReadDirectories(ConfigFile& file, char* value, int userIndex, UserRecord& user) {
    int count = ReadNumber(file, value);
    if (count < 0 || count > DirectoryCapacity) {
        ConsolePrintf("Config refused: user %d (%s) has the directory count %d, not between 0 and %d.\n",
                      userIndex, user.Name, count, DirectoryCapacity);
        return false;
    }
    for (int j = 0; j < count; ++j) {
        auto directory = std::make_unique<DirectoryRecord>();
        GetData(file, value);
        CopyText(directory->Name, value);
        GetData(file, value);
        CopyText(directory->Path, value);
        GetData(file, value);  // two values that nothing uses
        GetData(file, value);
        user.Directories[j] = std::move(directory);
        user.DirectoryCount = j + 1;
    }
    return true;
}

bool ReadUsers(ConfigFile& file, char* value) {
    GetData(file, value);  // the group count, which nothing uses
    int count = ReadNumber(file, value);
    if (count < 0 || count > UserCapacity) {
        ConsolePrintf("Config refused: the user count %d is not between 0 and %d.\n", count, UserCapacity);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        auto user = std::make_unique<UserRecord>();
        // SECURITY: a name or password is never cut: a cut password would be a
        // shorter one that also works.
        int length = GetData(file, value);
        if (length >= static_cast<int>(sizeof user->Name)) {
            ConsolePrintf("Config refused: user %d has a Name longer than %d characters (%s).\n", i,
                          static_cast<int>(sizeof user->Name) - 1, value);
            return false;
        }
        CopyText(user->Name, value);
        if (GetData(file, value) >= static_cast<int>(sizeof user->PassWord)) {
            ConsolePrintf("Config refused: user %d (%s) has a PassWord longer than %d characters.\n", i,
                          user->Name, static_cast<int>(sizeof user->PassWord) - 1);
            return false;
        }
        CopyText(user->PassWord, value);
        user->ServerID = ReadNumber(file, value);
        user->Enabled = static_cast<int16_t>(ReadNumber(file, value));
        bool ownSettings = GetData(file, value) == 0;  // the group marker
        if (ownSettings) {
            user->MaxConnections = ReadNumber(file, value);
            if (!ReadDirectories(file, value, i, *user)) return false;
        }
        if (user->DirectoryCount > 0 && user->Directories[0]->Path[0] == '\0')
            ConsolePrintf("Config: user %d (%s) has an empty root directory: it cannot log in.\n", i, user->Name);
        User[i] = std::move(user);
        UserCount = i + 1;
    }
    return true;
}

}  // namespace

bool LoadConfig(const char* path) {
    FILE* opened = std::fopen(path, "r");
    if (opened == nullptr) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(opened, std::fclose);
    return LoadConfigFrom(opened);
}

bool LoadConfigFrom(FILE* stream) {
    ConfigFile file{stream, 0};
    // A file that opens but cannot be read (a directory, say) is no configuration.
    int first = std::getc(file.File);
    if (std::ferror(file.File)) return false;
    if (first != EOF) std::ungetc(first, file.File);
    char value[ConfigValueSize];
    if (ReadServers(file, value) && ReadUsers(file, value)) return true;
    EmptyTables();
    return false;
}
