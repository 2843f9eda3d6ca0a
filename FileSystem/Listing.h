// The directory listing: one Unix-style long-listing line per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

struct DirectoryReader;

// The longest line a listing can hold: the fixed columns, a name of up to 255
// bytes, the line end and a NUL.
constexpr size_t ListingLineLimit = 59 + 255 + 2 + 1;

// Listing text being built in a caller's buffer; Text stays NUL-terminated.
struct ListingText {
    char* Text;
    size_t Capacity;
    size_t Used = 0;
};

// Append the line of a directory or of a file. Each returns false, appending
// nothing, when the line does not fit.
bool BuildDirectoryUnit(ListingText& listing, const char* name, time_t lastWrite);
bool BuildFileUnit(ListingText& listing, const char* name, time_t lastWrite, int64_t size);

// Appends the lines of the reader's next entries while another line surely
// fits. Returns true when entries are left for a later call.
bool GetDirectoryList(DirectoryReader& reader, ListingText& listing);

// The 12-character date of a listing line, such as "Mar 07  2006".
void FormatListingDate(time_t moment, char (&date)[13]);
