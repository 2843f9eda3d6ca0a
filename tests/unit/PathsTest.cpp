// Path confinement, CWD's walk and the listing's columns: the rules that must
// hold for every input rather than for the few a client test sends.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "platform/Files.h"

namespace {

// The directories of the tree below root "R" that the walks move through.
bool FakeDirectory(const char* path) {
    static const std::set<std::string> directories = {"R", "R/pub", "R/pub/incoming", "R/docs"};
    return directories.count(path) > 0;
}

DirectoryTexts AtTheRoot() {
    DirectoryTexts at;
    std::strcpy(at.Local, "R");
    std::strcpy(at.Current, "/");
    return at;
}

}  // namespace

TEST(JoinBelowRoot, ResolvesDotsAndNeverClimbsAboveTheRoot) {
    const std::string refused = "<refused>", longName(600, 'x');
    // root, current directory, client's name, result, room
    const std::tuple<const char*, const char*, std::string, std::string, size_t> cases[] = {
        {"R", "", "", "R", 1024}, {"R", "/pub", "a.txt", "R/pub/a.txt", 1024},
        {"R", "/pub", "../docs/./d.txt", "R/docs/d.txt", 1024}, {"R", "/pub/..", "x", "R/x", 1024},
        {"R", "//pub//", "//x//", "R/pub/x", 1024}, {"E:/", "", "pub", "E://pub", 1024}, {"E:/", "/pub", "..", "E:/", 1024},
        {"R", "", "..", refused, 1024}, {"R", "/pub", "../..", refused, 1024}, {"R", "/pub/..", "..", refused, 1024},
        {"R", "", "a/../../x", refused, 1024}, {"R", "", "...", "R/...", 1024},  // only ".." itself climbs
        {"../above", "", "x", "../above/x", 1024},                                // the root itself is the operator's
        {"R", "", "abcd", "R/abcd", 7}, {"R", "", "abcde", refused, 7},              // one more than fits
        {"R", "", std::string(2000, 'x'), refused, 1024}, {"R", "", longName + "/../" + longName, "R/" + longName, 1024}};
    for (const auto& [root, base, relative, expected, size] : cases) {
        char buffer[1024];
        EXPECT_EQ(JoinBelowRoot(root, base, relative, buffer, size) ? std::string(buffer) : refused, expected) << relative;
    }
}

TEST(ChangeDirectory, WalksLikeAClientExpects) {
    // argument; where it leads (null: CWD fails); the rewritten argument a failure quotes
    const std::tuple<const char*, const char*, const char*> walk[] = {
        {"pub", "/pub", nullptr}, {"incoming", "/pub/incoming", nullptr}, {"/", "/", nullptr},
        {"pub/incoming", "/pub/incoming", nullptr}, {"", "/", nullptr}, {"\\pub\\", "/pub", nullptr},
        {"docs", "/docs", nullptr},  // not in /pub: found below the root
        {"\\", "/", nullptr}, {"docs/", "/docs", nullptr}, {"/pub", "/pub", nullptr},
        {"/incoming", nullptr, "incoming"},  // a leading "/" looks only below the root
        {"pub/../docs", "/pub/../docs", nullptr},  // not below /pub: from the root, as given
        {"/", "/", nullptr}, {"..", nullptr, ".."}, {"/../x", nullptr, "../x"}, {"\\nowhere\\deep\\", nullptr, "nowhere/deep"}};
    DirectoryTexts at = AtTheRoot(), to;
    for (auto [given, current, quoted] : walk) {
        char argument[PathSize];
        std::strcpy(argument, given);
        ASSERT_EQ(ChangeDirectory("R", at, argument, &to, FakeDirectory), current != nullptr) << given;
        if (current == nullptr) {
            EXPECT_STREQ(argument, quoted) << given;
            continue;
        }
        EXPECT_EQ(std::string(to.Current) + " " + to.Local, std::string(current) + " R" + (current[1] ? current : ""));
        at = to;
    }
    // A name that does not fit below the current directory is tried from the root.
    std::strcpy(at.Local, ("R/" + std::string(1000, 'd')).c_str());
    std::strcpy(at.Current, ("/" + std::string(1000, 'd')).c_str());
    auto everything = [](const char*) { return true; };
    char argument[PathSize] = "longer-than-what-is-left";
    ASSERT_TRUE(ChangeDirectory("R", at, argument, &to, everything));
    EXPECT_STREQ(to.Current, "/longer-than-what-is-left");
    std::strcpy(argument, std::string(1022, 'h').c_str());  // "R/" and this: one more than fits
    EXPECT_FALSE(ChangeDirectory("R", at, argument, &to, everything));
}

TEST(Listing, LinesFactsAndDatesNeverOverrunTheBuffer) {
    // The columns, as the file system gives them, are tested end to end, and
    // the buffer's bounds by the listing fuzzer.
    DirectoryEntry file{"", false, 1141732800, 12, FileKind::File, 04755, 2, 0x801, 0xabc, true};
    char mode[11], text[1024] = "";
    FormatMode(file, mode);
    EXPECT_STREQ(mode, "-rwsr-xr-x");
    ListingText listing{text, sizeof text};
    ASSERT_TRUE(BuildUnit(listing, {ListingStyle::Facts, AllFacts, 0}, file, "a b"));
    ASSERT_TRUE(BuildUnit(listing, {ListingStyle::Facts, FactType | FactModify, 0}, file, "x", "cdir"));
    ASSERT_TRUE(BuildUnit(listing, {ListingStyle::Names, AllFacts, 0}, file, "n"));
    EXPECT_STREQ(text, "type=file;size=12;modify=20060307120000;perm=adfwr;unique=801gabc; a b\r\n"
                       "type=cdir;modify=20060307120000; x\r\nn\r\n");

    char date[13];
    FormatListingDate(1703505600, date);  // 25 December 2023, noon UTC
    EXPECT_STREQ(date, "Dec 25  2023");
    FormatLongDate(1141732800, 1141732800 + 3600, date);  // recent: the time of day
    EXPECT_EQ(std::string(date).substr(0, 7) + date[9], "Mar  7 :");
    FormatLongDate(1141732800, 1141732800 + 200 * 86400, date);  // older than six months: the year
    EXPECT_STREQ(date, "Mar  7  2006");
}

TEST(FactTimes, ParseAndFormatInUtc) {
    const std::pair<const char*, long long> cases[] = {{"19700101000000", 0}, {"20060307120000", 1141732800},
                                                       {"20000229235959.123", 951868799}, {"21000301000000", 4107542400}};
    for (auto [text, seconds] : cases) {
        time_t moment = -1;
        char formatted[15];
        ASSERT_TRUE(ParseFactTime(text, &moment)) << text;
        FormatFactTime(moment, formatted);
        EXPECT_EQ(std::to_string(moment) + " " + formatted, std::to_string(seconds) + " " + std::string(text).substr(0, 14));
    }
    for (const char* bad : {"", "2006030712000", "20061307120000", "20060230120000", "21000229000000", "2006030712000x",
                            "20060307120000.", "20060307240000"}) {
        time_t moment;
        EXPECT_FALSE(ParseFactTime(bad, &moment)) << bad;
    }
}
