#include "FileSystem/Listing.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

void FormatListingDateUncached(time_t moment, char (&date)[13]);
void FormatLongDateUncached(time_t moment, time_t now, char (&date)[13]);

namespace {

constexpr const char* Months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr time_t SixMonths = 183 * 24 * 3600;

bool AppendLine(ListingText& listing, const char* line, int length) {
    // SECURITY: the listing never grows past its buffer.
    if (length < 0 || listing.Used + static_cast<size_t>(length) >= listing.Capacity) return false;
    std::memcpy(listing.Text + listing.Used, line, static_cast<size_t>(length) + 1);
    listing.Used += static_cast<size_t>(length);
    return true;
}

// SECURITY: clients read listings line by line, and STAT sends them on the
// control connection: a name holding a line end would end its line early and
// could forge the lines after it. Such an entry is left out.
bool FitsOneLine(std::string_view name) { return name.find_first_of("\r\n") == std::string_view::npos; }

int ClampYear(int year) { return year < 0 ? 0 : year > 9999 ? 9999 : year; }

// The facts of one entry, each ended by ";", into buffer.
int FormatFacts(const DirectoryEntry& entry, unsigned facts, uint16_t permitted, const char* kind, char* buffer,
                size_t size) {
    int length = 0;
    auto add = [&](const char* format, auto... values) {
        if (length >= 0 && static_cast<size_t>(length) < size)
            length += std::snprintf(buffer + length, size - static_cast<size_t>(length), format, values...);
    };
    bool directory = entry.IsDirectory;
    // A link described as itself (it leads outside the root): nothing can be
    // read or written through it, only the name removed or renamed.
    bool link = entry.Kind == FileKind::Link;
    if (facts & FactType) add("type=%s;", kind != nullptr ? kind : directory ? "dir" : link ? "OS.unix=symlink" : "file");
    if ((facts & FactSize) && !directory && !link) add("size=%" PRId64 ";", entry.Size);
    if (facts & FactModify) {
        char when[15];
        FormatFactTime(entry.LastWrite, when);
        add("modify=%s;", when);
    }
    if (facts & FactPerm) {
        // What this server may do with the entry, from the mode bits that
        // apply to it, and what the account may do.
        unsigned bits = link ? 0 : entry.Privileged ? 07 : entry.OwnedByUs ? (entry.Permissions >> 6) & 07 : entry.Permissions & 07;
        bool read = bits & 04, write = bits & 02, search = bits & 01;
        char perm[8];
        size_t used = 0;
        auto letter = [&](bool modeAllows, uint16_t right, char c) {
            if (modeAllows && (permitted & right)) perm[used++] = c;
        };
        if (directory) {
            letter(write, PermitWrite, 'c'), letter(write, PermitRmdir, 'd'), letter(write, PermitRename, 'f');
            letter(write, PermitMkdir, 'm'), letter(write, PermitDelete, 'p'), letter(search, PermitAll, 'e');
            letter(read, PermitList, 'l');
        } else {
            letter(write, PermitAppend, 'a'), letter(write, PermitDelete, 'd'), letter(write, PermitRename, 'f');
            letter(write, PermitWrite, 'w'), letter(read, PermitRead, 'r');
        }
        perm[used] = '\0';
        add("perm=%s;", perm);
    }
    if (facts & FactUnique) add("unique=%" PRIx64 "g%" PRIx64 ";", entry.Device, entry.Inode);
    return length;
}

}  // namespace

void FormatListingDate(time_t moment, char (&date)[13]) {
    // Entries written together share a time: the last conversion is kept, as
    // the conversion to local time costs more than the rest of a line.
    static thread_local time_t lastMoment = -1;
    static thread_local char lastDate[13] = "";
    if (moment == lastMoment && lastMoment != -1) {
        std::memcpy(date, lastDate, sizeof date);
        return;
    }
    FormatListingDateUncached(moment, date);
    lastMoment = moment;
    std::memcpy(lastDate, date, sizeof date);
}

void FormatListingDateUncached(time_t moment, char (&date)[13]) {
    // English month names whatever the host's language.
    struct tm calendar {};
    if (!LocalCalendarTime(moment, &calendar) || calendar.tm_mon < 0 || calendar.tm_mon > 11) {
        std::snprintf(date, sizeof date, "Jan 01  1970");  // a time with no calendar date
        return;
    }
    std::snprintf(date, sizeof date, "%s %02d  %04d", Months[calendar.tm_mon], calendar.tm_mday,
                  ClampYear(calendar.tm_year + 1900));
}

void FormatLongDate(time_t moment, time_t now, char (&date)[13]) {
    static thread_local time_t lastMoment = -1, lastNow = -1;
    static thread_local char lastDate[13] = "";
    if (moment == lastMoment && now == lastNow && lastMoment != -1) {
        std::memcpy(date, lastDate, sizeof date);
        return;
    }
    FormatLongDateUncached(moment, now, date);
    lastMoment = moment;
    lastNow = now;
    std::memcpy(lastDate, date, sizeof date);
}

void FormatLongDateUncached(time_t moment, time_t now, char (&date)[13]) {
    struct tm calendar {};
    if (!LocalCalendarTime(moment, &calendar) || calendar.tm_mon < 0 || calendar.tm_mon > 11) {
        std::snprintf(date, sizeof date, "Jan  1  1970");
        return;
    }
    // As ls: within six months before now, and no more than an hour ahead (in
    // 128 bits: a file's time may be anything).
    __int128 age = static_cast<__int128>(now) - moment;
    bool recent = age >= -3600 && age < SixMonths;
    if (recent)
        std::snprintf(date, sizeof date, "%s %2d %02d:%02d", Months[calendar.tm_mon], calendar.tm_mday,
                      calendar.tm_hour, calendar.tm_min);
    else
        std::snprintf(date, sizeof date, "%s %2d  %04d", Months[calendar.tm_mon], calendar.tm_mday,
                      ClampYear(calendar.tm_year + 1900));
}

void FormatMode(const DirectoryEntry& entry, char (&mode)[11]) {
    static constexpr char Types[] = {'-', 'd', 'l', 'p', 's', 'c', 'b'};
    mode[0] = Types[static_cast<int>(entry.Kind)];
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) mode[1 + i] = (entry.Permissions >> (8 - i)) & 1 ? letters[i] : '-';
    if (entry.Permissions & 04000) mode[3] = mode[3] == 'x' ? 's' : 'S';
    if (entry.Permissions & 02000) mode[6] = mode[6] == 'x' ? 's' : 'S';
    if (entry.Permissions & 01000) mode[9] = mode[9] == 'x' ? 't' : 'T';
    mode[10] = '\0';
}

void FormatFactTime(time_t moment, char (&text)[15]) {
    struct tm calendar {};
    if (!UtcCalendarTime(moment, &calendar)) moment = 0, UtcCalendarTime(0, &calendar);
    auto two = [](int value) { return static_cast<unsigned>(value) % 100u; };
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", static_cast<unsigned>(ClampYear(calendar.tm_year + 1900)),
                  two(calendar.tm_mon + 1), two(calendar.tm_mday), two(calendar.tm_hour), two(calendar.tm_min),
                  two(calendar.tm_sec));
}

bool ParseFactTime(std::string_view text, time_t* moment) {
    if (text.size() < 14) return false;
    int parts[6];
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        parts[i] = 0;
        for (int d = 0; d < widths[i]; ++d, ++at) {
            if (text[at] < '0' || text[at] > '9') return false;
            parts[i] = parts[i] * 10 + (text[at] - '0');
        }
    }
    if (at < text.size()) {  // only a fraction of a second may follow
        if (text[at] != '.' || at + 1 == text.size()) return false;
        for (size_t i = at + 1; i < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9') return false;
    }
    int year = parts[0], month = parts[1], day = parts[2];
    static constexpr int DaysIn[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > DaysIn[month - 1] || (month == 2 && day == 29 && !leap) ||
        parts[3] > 23 || parts[4] > 59 || parts[5] > 60)
        return false;
    // Days since 1970-01-01 of a proleptic Gregorian date.
    int y = month <= 2 ? year - 1 : year;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yearOfEra = y - era * 400;
    int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    int64_t days = static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
    *moment = static_cast<time_t>(days * 86400 + parts[3] * 3600 + parts[4] * 60 + parts[5]);
    return true;
}

size_t FormatFactNames(unsigned selected, bool marked, char* buffer, size_t size) {
    static constexpr std::pair<unsigned, const char*> names[] = {
        {FactType, "type"}, {FactSize, "size"}, {FactModify, "modify"}, {FactPerm, "perm"}, {FactUnique, "unique"}};
    size_t length = 0;
    buffer[0] = '\0';
    for (auto [fact, name] : names) {
        bool chosen = selected & fact;
        if (!marked && !chosen) continue;
        int added = std::snprintf(buffer + length, size - length, "%s%s;", name, marked && chosen ? "*" : "");
        if (added < 0 || length + static_cast<size_t>(added) >= size) break;
        length += static_cast<size_t>(added);
    }
    return length;
}

unsigned ParseFactNames(std::string_view list) {
    static constexpr std::pair<unsigned, std::string_view> names[] = {
        {FactType, "type"}, {FactSize, "size"}, {FactModify, "modify"}, {FactPerm, "perm"}, {FactUnique, "unique"}};
    unsigned selected = 0;
    while (!list.empty()) {
        size_t end = list.find(';');
        std::string_view name = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        for (auto [fact, known] : names) {
            if (name.size() != known.size()) continue;
            bool same = true;
            for (size_t i = 0; i < name.size(); ++i)
                same = same && (name[i] | 0x20) == known[i];
            if (same) selected |= fact;
        }
    }
    return selected;
}

bool BuildDirectoryUnit(ListingText& listing, const char* name, time_t lastWrite) {
    char date[13];
    FormatListingDate(lastWrite, date);
    char line[PlainLineLimit + 64];
    int length = std::snprintf(line, sizeof line, "dr-xr-xr-x   1 owner    group               0 %s %s\r\n", date, name);
    return length < static_cast<int>(sizeof line) && AppendLine(listing, line, length);
}

bool BuildFileUnit(ListingText& listing, const char* name, time_t lastWrite, int64_t size) {
    char date[13];
    FormatListingDate(lastWrite, date);
    char line[PlainLineLimit + 64];
    int length = std::snprintf(line, sizeof line, "-r-xr-xr-x   1 owner    group %15" PRId64 " %s %s\r\n", size, date,
                               name);
    return length < static_cast<int>(sizeof line) && AppendLine(listing, line, length);
}

bool BuildUnit(ListingText& listing, const ListingFormat& format, const DirectoryEntry& entry, std::string_view name,
               const char* kind) {
    if (!FitsOneLine(name)) return false;
    char line[ListingLineLimit + 64];
    int shown = static_cast<int>(name.size() > 1024 ? 1024 : name.size());
    int length = -1;
    switch (format.Style) {
        case ListingStyle::Plain: {
            std::string_view view(name.data(), static_cast<size_t>(shown));
            char text[1025];
            std::memcpy(text, view.data(), view.size());
            text[view.size()] = '\0';
            return entry.IsDirectory ? BuildDirectoryUnit(listing, text, entry.LastWrite)
                                     : BuildFileUnit(listing, text, entry.LastWrite, entry.Size);
        }
        case ListingStyle::Long: {
            char mode[11];
            char date[13];
            FormatMode(entry, mode);
            FormatLongDate(entry.LastWrite, format.Now, date);
            length = std::snprintf(line, sizeof line, "%s %3" PRIu64 " owner    group %15" PRId64 " %s %.*s\r\n", mode,
                                   entry.Links, entry.Size, date, shown, name.data());
            break;
        }
        case ListingStyle::Names:
            length = std::snprintf(line, sizeof line, "%.*s\r\n", shown, name.data());
            break;
        case ListingStyle::Facts: {
            char facts[160];
            FormatFacts(entry, format.Facts, format.Permitted, kind, facts, sizeof facts);
            length = std::snprintf(line, sizeof line, "%s %.*s\r\n", facts, shown, name.data());
            break;
        }
    }
    return length < static_cast<int>(sizeof line) && AppendLine(listing, line, length);
}

bool GetDirectoryList(DirectoryReader& reader, ListingText& listing, const ListingFormat& format) {
    DirectoryEntry entry;
    bool plain = format.Style == ListingStyle::Plain;
    size_t lineLimit = plain ? PlainLineLimit : ListingLineLimit;
    while (listing.Used + lineLimit <= listing.Capacity) {
        if (!reader.Next(&entry)) return false;
        if (!FitsOneLine(entry.Name)) continue;
        bool omitted = false;
        for (const std::vector<std::string>* patterns : format.Omitted)
            omitted = omitted || (patterns != nullptr && AnyNameMatches(entry.Name, *patterns));
        if (omitted) continue;
        if (plain) {
            if (entry.IsDirectory) BuildDirectoryUnit(listing, entry.Name, entry.LastWrite);
            else BuildFileUnit(listing, entry.Name, entry.LastWrite, entry.Size);
            continue;
        }
        std::string_view name = entry.Name;
        bool dots = name == "." || name == "..";
        if (format.Style == ListingStyle::Names && dots) continue;
        const char* kind = format.Style == ListingStyle::Facts && dots ? (name == "." ? "cdir" : "pdir") : nullptr;
        BuildUnit(listing, format, entry, name, kind);
    }
    return true;
}
