#include "FileSystem/Listing.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

namespace {

bool AppendLine(ListingText& listing, const char* line, int length) {
    // SECURITY: the listing never grows past its buffer.
    if (length < 0 || listing.Used + static_cast<size_t>(length) >= listing.Capacity) return false;
    std::memcpy(listing.Text + listing.Used, line, static_cast<size_t>(length) + 1);
    listing.Used += static_cast<size_t>(length);
    return true;
}

}  // namespace

void FormatListingDate(time_t moment, char (&date)[13]) {
    // English month names whatever the host's language.
    static constexpr const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm calendar {};
    if (!LocalCalendarTime(moment, &calendar) || calendar.tm_mon < 0 || calendar.tm_mon > 11) {
        std::snprintf(date, sizeof date, "Jan 01  1970");  // a time with no calendar date
        return;
    }
    int year = calendar.tm_year + 1900;
    if (year < 0 || year > 9999) year = year < 0 ? 0 : 9999;
    std::snprintf(date, sizeof date, "%s %02d  %04d", months[calendar.tm_mon], calendar.tm_mday, year);
}

bool BuildDirectoryUnit(ListingText& listing, const char* name, time_t lastWrite) {
    char date[13];
    FormatListingDate(lastWrite, date);
    char line[ListingLineLimit + 64];
    int length = std::snprintf(line, sizeof line, "dr-xr-xr-x   1 owner    group               0 %s %s\r\n", date, name);
    return length < static_cast<int>(sizeof line) && AppendLine(listing, line, length);
}

bool BuildFileUnit(ListingText& listing, const char* name, time_t lastWrite, int64_t size) {
    char date[13];
    FormatListingDate(lastWrite, date);
    char line[ListingLineLimit + 64];
    int length = std::snprintf(line, sizeof line, "-r-xr-xr-x   1 owner    group %15" PRId64 " %s %s\r\n", size, date,
                               name);
    return length < static_cast<int>(sizeof line) && AppendLine(listing, line, length);
}

bool GetDirectoryList(DirectoryReader& reader, ListingText& listing) {
    DirectoryEntry entry;
    while (listing.Used + ListingLineLimit <= listing.Capacity) {
        if (!reader.Next(&entry)) return false;
        if (entry.IsDirectory) BuildDirectoryUnit(listing, entry.Name, entry.LastWrite);
        else BuildFileUnit(listing, entry.Name, entry.LastWrite, entry.Size);
    }
    return true;
}
