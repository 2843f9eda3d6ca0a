// The listing lines of LIST, NLST, MLSD and MLST: any entry and name, in a
// buffer of any room, never overruns it and always ends its lines.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "FileSystem/Listing.h"
#include "platform/Files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 24) return 0;
    DirectoryEntry entry;
    std::memcpy(&entry.LastWrite, data, 8);
    std::memcpy(&entry.Size, data + 8, 8);
    entry.Kind = static_cast<FileKind>(data[16] % 7);
    entry.IsDirectory = entry.Kind == FileKind::Directory;
    entry.Permissions = (data[17] << 4 | data[18]) & 07777;
    entry.OwnedByUs = data[19] & 1;
    entry.Privileged = data[19] & 2;
    ListingFormat format{static_cast<ListingStyle>(data[20] % 4), data[21] & AllFacts, 0};
    std::memcpy(&format.Now, data + 8, 8);
    size_t room = 1 + data[22] % 600;
    std::string_view name(reinterpret_cast<const char*>(data + 24), size - 24);
    if (name.find('\0') != std::string_view::npos) name = name.substr(0, name.find('\0'));
    char text[601 + 16];
    std::memset(text, 0x5A, sizeof text);
    text[0] = '\0';
    ListingText listing{text, room};
    for (int i = 0; i < 3; ++i) BuildUnit(listing, format, entry, name, data[23] & 1 ? "cdir" : nullptr);
    if (listing.Used >= room || text[listing.Used] != '\0') __builtin_trap();
    for (size_t i = room; i < sizeof text; ++i)
        if (text[i] != 0x5A) __builtin_trap();  // nothing written past the room
    if (listing.Used > 0 && (text[listing.Used - 2] != '\r' || text[listing.Used - 1] != '\n')) __builtin_trap();
    return 0;
}
