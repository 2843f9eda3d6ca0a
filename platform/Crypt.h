// Password hashes in crypt(3)'s format, made and checked by libxcrypt
// (Debian's libcrypt-dev): the one place that knows the library. Without it at
// build time no hash is supported, and the settings that name one are refused.
#pragma once

#include <string>

// Whether libxcrypt checks this hash: a method it supports ($y$ yescrypt,
// $gy$, $7$, $2b$ bcrypt, $6$ SHA-512...) with a salt and a digest.
bool PasswordHashSupported(const std::string& hash);

// Whether the password is the one the hash was made from. Slow on purpose,
// as the hash's method and cost make it.
bool PasswordMatches(const char* password, const std::string& hash);

// A yescrypt hash of the password with a fresh random salt; empty on failure.
std::string HashPassword(const std::string& password);

// One line of standard input without its line end, not echoed when the input
// is a terminal; false at the end of the input.
bool ReadSecretLine(std::string* line);
