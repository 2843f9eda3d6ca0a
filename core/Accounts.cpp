#include "core/Accounts.h"

#include <algorithm>
#include <memory>

#include "core/Options.h"
#include "core/Records.h"
#include "platform/Crypt.h"
#include "platform/Files.h"

namespace {

// The sections as the settings file gave them, in its order; then each is
// given to its account.
std::vector<std::unique_ptr<AccountPolicy>> Policies;
std::array<AccountPolicy*, UserCapacity> PolicyOfUser{};

struct NamedPermission {
    const char* Name;
    uint16_t Bits;
};

constexpr NamedPermission PermissionNames[] = {
    {"list", PermitList},     {"read", PermitRead},     {"write", PermitWrite}, {"append", PermitAppend},
    {"delete", PermitDelete}, {"rename", PermitRename}, {"mkdir", PermitMkdir}, {"rmdir", PermitRmdir},
    {"chmod", PermitChmod},   {"mtime", PermitMtime},   {"full", PermitAll},    {"read-only", PermitList | PermitRead},
    {"upload-only", PermitWrite | PermitMkdir},  // a drop box: nothing in it can be listed or read back
};

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The items of a comma list, blanks around each taken off, empty ones left out.
std::vector<std::string> Items(std::string_view list) {
    std::vector<std::string> items;
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view item = Trimmed(list.substr(0, comma));
        if (!item.empty()) items.emplace_back(item);
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
    }
    return items;
}

bool ParsePermissions(std::string_view value, uint16_t* permissions) {
    *permissions = 0;
    std::vector<std::string> items = Items(value);
    for (const std::string& item : items) {
        const NamedPermission* found = nullptr;
        for (const NamedPermission& named : PermissionNames)
            if (item == named.Name) found = &named;
        if (found == nullptr) return false;
        *permissions |= found->Bits;
    }
    return !items.empty();
}

AccountPolicy& PolicyNamed(const std::string& account, const std::string& origin) {
    for (auto& policy : Policies)
        if (policy->Name == account) return *policy;
    Policies.push_back(std::make_unique<AccountPolicy>());
    Policies.back()->Name = account;
    Policies.back()->Origin = origin;
    return *Policies.back();
}

}  // namespace

const char* PermissionName(uint16_t permission) {
    for (const NamedPermission& named : PermissionNames)
        if (named.Bits == permission) return named.Name;
    return "?";
}

bool ParseSize(std::string_view text, uint64_t* bytes) {
    text = Trimmed(text);
    int shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K': case 'k': shift = 10; break;
            case 'M': case 'm': shift = 20; break;
            case 'G': case 'g': shift = 30; break;
            case 'T': case 't': shift = 40; break;
            default: break;
        }
        if (shift != 0) text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 12) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > (UINT64_C(1) << (62 - shift))) return false;  // far past any disk, and no overflow
    *bytes = value << shift;
    return true;
}

bool SetAccountKey(const std::string& account, const std::string& origin, const std::string& key,
                   const std::string& value, std::string* fault) {
    AccountPolicy& policy = PolicyNamed(account, origin);
    uint64_t number = 0;
    auto refuse = [&](const char* expected) {
        *fault = key + " = " + value + ": expected " + expected;
        return false;
    };
    if (key == "permissions") {
        if (!ParsePermissions(value, &policy.Permissions))
            return refuse("full, read-only, upload-only, or a comma list of list, read, write, append, delete, "
                          "rename, mkdir, rmdir, chmod, mtime");
    } else if (key == "password") {
        // SECURITY: a value libxcrypt cannot check would lock the account
        // out, or worse, be taken for a plain password: refused at start.
        if (!PasswordHashSupported(value)) return refuse("a crypt(3) hash ($y$, $gy$, $7$, $2b$, $6$) as vostrine --hash-password prints");
        policy.PasswordHash = value;
    } else if (key == "download-rate" || key == "upload-rate") {
        if (!ParseSize(value, &number) || number == 0) return refuse("bytes per second, such as 512K, 10M or 1G");
        (key == "download-rate" ? policy.DownloadRate : policy.UploadRate) = number;
    } else if (key == "umask") {
        if (!ParseUmask(value, &policy.Umask)) return refuse("an octal mask from 000 to 777");
    } else if (key == "hide" || key == "deny") {
        (key == "hide" ? policy.Hide : policy.Deny) = Items(value);
    } else if (key == "quota-size") {
        if (!ParseSize(value, &number) || number == 0) return refuse("a size such as 500M or 2G");
        policy.QuotaBytes = static_cast<int64_t>(number);
    } else if (key == "quota-files") {
        if (value.find_first_not_of("0123456789") != std::string::npos || !ParseSize(value, &number) || number == 0)
            return refuse("a number of files");
        policy.QuotaFiles = static_cast<int64_t>(number);
    } else {
        *fault = key + ": not an account setting";
        return false;
    }
    return true;
}

bool AttachAccountPolicies(std::string* fault) {
    PolicyOfUser.fill(nullptr);
    for (auto& policy : Policies) {
        int found = GetUserByName(policy->Name.c_str());
        if (found < 0) {
            *fault = policy->Origin + ": [account " + policy->Name + "]: no such account in " + Options.ConfigFile;
            return false;
        }
        PolicyOfUser[static_cast<size_t>(found)] = policy.get();
    }
    return true;
}

AccountPolicy* PolicyOf(int user) {
    return user >= 0 && user < UserCapacity ? PolicyOfUser[static_cast<size_t>(user)] : nullptr;
}

bool AnyNameMatches(std::string_view path, const std::vector<std::string>& patterns) {
    if (patterns.empty()) return false;
    while (!path.empty()) {
        size_t end = path.find_first_of("/\\");
        std::string name(path.substr(0, end));
        path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
        if (name.empty() || name == "." || name == "..") continue;  // steps, not names
        for (const std::string& pattern : patterns)
            if (NameMatchesPattern(name.c_str(), pattern.c_str())) return true;
    }
    return false;
}

namespace {

bool explicitModes = false;  // a umask is set: creations pass their final mode

unsigned UmaskFor(const AccountPolicy* policy) {
    if (policy != nullptr && policy->Umask >= 0) return static_cast<unsigned>(policy->Umask);
    return static_cast<unsigned>(Options.Umask >= 0 ? Options.Umask : StartUmask());
}

}  // namespace

void PrepareCreationModes() {
    explicitModes = Options.Umask >= 0;
    for (const auto& policy : Policies) explicitModes = explicitModes || policy->Umask >= 0;
    if (explicitModes) ClearProcessUmask();
}

// Without any umask set, files and directories are made as they always
// were, the process's umask applied by the system.
unsigned FileCreationMode(const AccountPolicy* policy) { return explicitModes ? 0666 & ~UmaskFor(policy) : 0644; }
unsigned DirectoryCreationMode(const AccountPolicy* policy) { return explicitModes ? 0777 & ~UmaskFor(policy) : 0755; }

bool HasQuota(const AccountPolicy* policy) {
    return policy != nullptr && (policy->QuotaBytes > 0 || policy->QuotaFiles > 0);
}

void MeasureUsage(AccountPolicy& policy, const char* root) {
    if (!HasQuota(&policy)) return;
    std::lock_guard<std::mutex> hold(policy.UsageLock);
    if (policy.Measured) return;
    CountTree(root, policy.QuotaBytes, policy.QuotaFiles, &policy.UsedBytes, &policy.UsedFiles);
    policy.Measured = true;
}

bool QuotaAllows(AccountPolicy& policy, int64_t bytes, int64_t files) {
    std::lock_guard<std::mutex> hold(policy.UsageLock);
    return (policy.QuotaBytes == 0 || policy.UsedBytes + bytes <= policy.QuotaBytes) &&
           (policy.QuotaFiles == 0 || policy.UsedFiles + files <= policy.QuotaFiles);
}

void CountUsage(AccountPolicy& policy, int64_t bytes, int64_t files) {
    std::lock_guard<std::mutex> hold(policy.UsageLock);
    policy.UsedBytes = std::max<int64_t>(0, policy.UsedBytes + bytes);
    policy.UsedFiles = std::max<int64_t>(0, policy.UsedFiles + files);
}
