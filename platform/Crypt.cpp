#include "platform/Crypt.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <termios.h>
#include <unistd.h>

#ifdef VOSTRINE_WITH_XCRYPT
#include <crypt.h>
#endif

#ifdef VOSTRINE_WITH_XCRYPT

namespace {

// crypt_rn's output for a password and a hash (or a salt setting), or empty.
std::string Crypt(const char* password, const char* setting) {
    crypt_data data;
    std::memset(&data, 0, sizeof data);
    const char* out = crypt_rn(password, setting, &data, sizeof data);
    // A failed hash starts with '*' (never a valid hash).
    std::string result = out != nullptr && out[0] != '*' ? out : "";
    explicit_bzero(&data, sizeof data);
    return result;
}

}  // namespace

bool PasswordHashSupported(const std::string& hash) {
    if (hash.empty() || hash[0] != '$' || crypt_checksalt(hash.c_str()) != CRYPT_SALT_OK) return false;
    // The whole hash, not only its salt: hashing anything with it keeps its length.
    return Crypt("", hash.c_str()).size() == hash.size();
}

bool PasswordMatches(const char* password, const std::string& hash) {
    std::string computed = Crypt(password, hash.c_str());
    if (computed.size() != hash.size()) return false;
    unsigned char differ = 0;  // compared in time independent of where they differ
    for (size_t i = 0; i < hash.size(); ++i) differ |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return differ == 0;
}

std::string HashPassword(const std::string& password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // No random bytes given: libxcrypt takes them from the system's generator.
    if (crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr) return "";
    return Crypt(password.c_str(), setting);
}

#else

bool PasswordHashSupported(const std::string&) { return false; }
bool PasswordMatches(const char*, const std::string&) { return false; }
std::string HashPassword(const std::string&) { return ""; }

#endif

bool ReadSecretLine(std::string* line) {
    termios saved;
    bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs("Password: ", stderr);
    }
    bool read = static_cast<bool>(std::getline(std::cin, *line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (read && !line->empty() && line->back() == '\r') line->pop_back();
    return read;
}
