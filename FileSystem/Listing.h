// Directory listings: the Unix-style long-listing line of LIST, and with the
// extensions ls-style lines with real modes and times, bare names (NLST) and
// machine-readable facts (MLSD and MLST, RFC 3659).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/Accounts.h"

struct DirectoryReader;
struct DirectoryEntry;

// The longest line a listing can hold: the fixed columns (or the longest
// facts), a name of up to 255 bytes, the line end and a NUL.
constexpr size_t PlainLineLimit = 59 + 255 + 2 + 1;
constexpr size_t ListingLineLimit = 160 + 255 + 2 + 1;

// Listing text being built in a caller's buffer; Text stays NUL-terminated.
struct ListingText {
    char* Text;
    size_t Capacity;
    size_t Used = 0;
};

// The facts of MLSD and MLST, as bits of a selection.
enum Fact : unsigned { FactType = 1, FactSize = 2, FactModify = 4, FactPerm = 8, FactUnique = 16 };
constexpr unsigned AllFacts = FactType | FactSize | FactModify | FactPerm | FactUnique;

enum class ListingStyle : uint8_t {
    Plain,  // LIST without the extensions: fixed permissions, the year always
    Long,   // LIST with them: the entry's type and permissions, ls's dates
    Names,  // NLST: the name alone
    Facts,  // MLSD and MLST: facts, a blank, the name
};

struct ListingFormat {
    ListingStyle Style = ListingStyle::Plain;
    unsigned Facts = AllFacts;  // the facts shown (Facts style)
    time_t Now = 0;             // what "recent" is measured from (Long style)
    uint16_t Permitted = PermitAll;  // the account's rights, which the perm fact reflects
    const std::vector<std::string>* Omitted[2] = {};  // names matching these patterns are left out
};

// Append the line of a directory or of a file (Plain style). Each returns
// false, appending nothing, when the line does not fit.
bool BuildDirectoryUnit(ListingText& listing, const char* name, time_t lastWrite);
bool BuildFileUnit(ListingText& listing, const char* name, time_t lastWrite, int64_t size);

// Appends the line of one entry in any style; false, appending nothing, when
// it does not fit. For facts, `kind` overrides the type fact ("cdir", "pdir").
bool BuildUnit(ListingText& listing, const ListingFormat& format, const DirectoryEntry& entry, std::string_view name,
               const char* kind = nullptr);

// Appends the lines of the reader's next entries while another line surely
// fits. Returns true when entries are left for a later call. Names skips "."
// and ".."; Facts calls them cdir and pdir.
bool GetDirectoryList(DirectoryReader& reader, ListingText& listing, const ListingFormat& format = {});

// The 12-character date of a Plain line, such as "Mar 07  2006".
void FormatListingDate(time_t moment, char (&date)[13]);
// The 12-character date of a Long line: "Mar  7 14:05" within six months of
// now, "Mar  7  2006" otherwise.
void FormatLongDate(time_t moment, time_t now, char (&date)[13]);
// The mode column of a Long line, such as "drwxr-xr-x".
void FormatMode(const DirectoryEntry& entry, char (&mode)[11]);

// A moment as YYYYMMDDHHMMSS in UTC (MDTM, MFMT, the modify fact).
void FormatFactTime(time_t moment, char (&text)[15]);
// Reads YYYYMMDDHHMMSS in UTC (optionally followed by a fraction of a second,
// which is ignored); false for anything else.
bool ParseFactTime(std::string_view text, time_t* moment);

// The fact list of FEAT and of OPTS MLST's reply: "type*;size*;modify;..."
// with a star on each selected fact (marked) or only the selected facts.
size_t FormatFactNames(unsigned selected, bool marked, char* buffer, size_t size);
// The selection OPTS MLST asks for: known fact names separated by ";"
// (case-insensitive), unknown ones ignored.
unsigned ParseFactNames(std::string_view list);
