// File system calls confined to an account's root. A path is given as the
// root's directory descriptor and a path below it ("" for the root itself),
// and is resolved by the kernel with openat2's RESOLVE_BENEATH: "..", an
// absolute symbolic link, or a relative one that leads outside the root make
// the path fail as a missing name would. Relative links that stay inside are
// followed. Removing and renaming act on the last name itself, so a link is
// removed or renamed, never its target. Needs Linux 5.6 or later.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/Descriptor.h"
#include "platform/Files.h"

struct Beneath {
    int Root;          // the root's directory descriptor
    const char* Path;  // below the root, without a leading "/"; "" is the root
    bool IsRoot() const { return Path[0] == '\0'; }
};

// SECURITY: the root is opened by its configured path (the root itself may
// be a link, followed here); everything a client names is resolved beneath it.
Descriptor RootOpen(const char* path);

PathKind KindBeneath(const Beneath& path);                 // following links that stay inside
bool InfoBeneath(const Beneath& path, DirectoryEntry* info);
bool ExistsBeneath(const Beneath& path);                   // the name itself, a dangling link included

Descriptor OpenReadBeneath(const Beneath& path, int64_t* size);       // a regular file
Descriptor CreateBeneath(const Beneath& path, unsigned mode = 0644);  // create or empty a regular file
Descriptor OpenWriteBeneath(const Beneath& path, int64_t offset, unsigned mode = 0644);  // at offset, or the end for -1
Descriptor OpenDirectoryBeneath(const Beneath& path);                 // for ListDirectoryBeneath
DirectoryReader ListDirectoryBeneath(const Beneath& path);            // closed when not a readable directory

bool RemoveFileBeneath(const Beneath& path);        // never a directory, never the root
bool RemoveDirectoryBeneath(const Beneath& path);   // only an empty one, never the root
bool CreateDirectoryBeneath(const Beneath& path, unsigned mode = 0755);
bool RenameBeneath(const Beneath& from, const Beneath& to);  // never replaces, never moves the root
bool SetModifyTimeBeneath(const Beneath& path, time_t moment);
bool ChangeModeBeneath(const Beneath& path, unsigned mode);  // permission bits only, never the root
