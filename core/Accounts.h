// What a settings file's [account NAME] sections give the accounts of
// ./config: the commands each may use, a password hash, transfer rates, the
// mode of what it creates, names it may not see or touch, and a quota with
// the usage counted against it. An account without a section has none of
// this: every right, ./config's password, no limit.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The rights a command may need (a command-table row names its own).
enum Permission : uint16_t {
    PermitList = 1 << 0,    // LIST, NLST, MLSD, MLST, STAT of a path, SIZE, MDTM
    PermitRead = 1 << 1,    // RETR
    PermitWrite = 1 << 2,   // STOR: creating and overwriting files
    PermitAppend = 1 << 3,  // APPE, and STOR after REST
    PermitDelete = 1 << 4,  // DELE
    PermitRename = 1 << 5,  // RNFR, RNTO
    PermitMkdir = 1 << 6,   // MKD, XMKD
    PermitRmdir = 1 << 7,   // RMD, XRMD
    PermitChmod = 1 << 8,   // SITE CHMOD
    PermitMtime = 1 << 9,   // MFMT
    PermitAll = (1 << 10) - 1,
};

// The name of one permission, as the settings file writes it.
const char* PermissionName(uint16_t permission);

struct AccountPolicy {
    std::string Name;    // the account of ./config it applies to
    std::string Origin;  // "file:line" of its section, for a refusal at start
    uint16_t Permissions = PermitAll;
    std::string PasswordHash;  // replaces ./config's password when set
    uint64_t DownloadRate = 0, UploadRate = 0;  // bytes per second per connection; 0: no limit
    int Umask = -1;                             // -1: the server's
    std::vector<std::string> Hide, Deny;        // fnmatch patterns for any one name of a path
    int64_t QuotaBytes = 0, QuotaFiles = 0;     // 0: no limit

    // The account's usage, shared by its sessions: counted at its first
    // login after the start, then kept up to date by its uploads and deletions.
    std::mutex UsageLock;
    bool Measured = false;
    int64_t UsedBytes = 0, UsedFiles = 0;
};

// Takes one `key = value` of the section [account NAME] found at origin;
// false, with *fault naming the key and what was expected, when refused.
bool SetAccountKey(const std::string& account, const std::string& origin, const std::string& key,
                   const std::string& value, std::string* fault);

// Once ./config is read: gives each section to its account. False, with
// *fault naming the section's file and line, when one names no account.
bool AttachAccountPolicies(std::string* fault);

// The policy of a user of the table, or null: every right.
AccountPolicy* PolicyOf(int user);

// Counts the account's usage once, at its first login after the start when
// it has a quota: a walk of its root that stops once past a limit.
void MeasureUsage(AccountPolicy& policy, const char* root);
bool HasQuota(const AccountPolicy* policy);
// Whether so many more bytes and files fit the account's quota.
bool QuotaAllows(AccountPolicy& policy, int64_t bytes, int64_t files);
// Adds to the account's usage (negative numbers take off).
void CountUsage(AccountPolicy& policy, int64_t bytes, int64_t files);

// Whether any one name of a path ("/"- or "\"-separated) matches a pattern.
bool AnyNameMatches(std::string_view path, const std::vector<std::string>& patterns);

// Reads a size such as 512, 512K, 10M, 1G or 2T (1024-based); false when it is not one.
bool ParseSize(std::string_view text, uint64_t* bytes);

// Before any thread starts: when a umask is set (--umask, or an account's),
// the process's umask is cleared and every creation applies its account's.
void PrepareCreationModes();
// The modes of a file and of a directory the account creates.
unsigned FileCreationMode(const AccountPolicy* policy);
unsigned DirectoryCreationMode(const AccountPolicy* policy);
