// Path confinement, CWD's walk and the listing's columns: the rules that must
// hold for every input rather than for the few a client test sends.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "platform/Files.h"

namespace {

std::string Join(const char* root, const char* base, const std::string& relative, size_t size = 1024) {
    char buffer[1024];
    if (!JoinBelowRoot(root, base, relative, buffer, size)) return "<refused>";
    return buffer;
}

}  // namespace

TEST(JoinBelowRoot, ResolvesDotsAndNeverClimbsAboveTheRoot) {
    struct Case {
        const char* Root;
        const char* Base;
        std::string Relative;
        std::string Expected;
        size_t Size = 1024;
    };
    const Case cases[] = {
        {"R", "", "", "R"}, {"R", "/pub", "a.txt", "R/pub/a.txt"}, {"R", "/pub", "../docs/./d.txt", "R/docs/d.txt"},
        {"R", "/pub/..", "x", "R/x"}, {"R", "//pub//", "//x//", "R/pub/x"}, {"E:/", "", "pub", "E://pub"},
        {"E:/", "/pub", "..", "E:/"}, {"R", "", "..", "<refused>"}, {"R", "/pub", "../..", "<refused>"},
        {"R", "/pub/..", "..", "<refused>"}, {"R", "", "a/../../x", "<refused>"},
        {"R", "", "...", "R/..."},                // only ".." itself climbs
        {"../above", "", "x", "../above/x"},      // the root itself is the operator's
        {"R", "", "abcd", "R/abcd", 7}, {"R", "", "abcde", "<refused>", 7},  // one more than fits
        {"R", "", std::string(2000, 'x'), "<refused>"},
        {"R", "", std::string(600, 'x') + "/../" + std::string(600, 'y'), "R/" + std::string(600, 'y')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Join(c.Root, c.Base, c.Relative, c.Size), c.Expected) << c.Root << " " << c.Base << " " << c.Relative;
}

namespace {

// The directories of the tree below root "R" that the walk moves through.
bool FakeDirectory(const char* path) {
    static const std::set<std::string> directories = {"R", "R/pub", "R/pub/incoming", "R/docs"};
    return directories.count(path) > 0;
}

}  // namespace

TEST(ChangeDirectory, WalksLikeAClientExpects) {
    struct Step {
        const char* Argument;
        const char* Current;  // after the step; null when CWD fails
        const char* Local;
        const char* Quoted;   // the rewritten argument a failure quotes
    };
    const Step walk[] = {
        {"pub", "/pub", "R/pub", nullptr}, {"incoming", "/pub/incoming", "R/pub/incoming", nullptr},
        {"/", "/", "R", nullptr}, {"pub/incoming", "/pub/incoming", "R/pub/incoming", nullptr}, {"", "/", "R", nullptr},
        {"\\pub\\", "/pub", "R/pub", nullptr},
        {"docs", "/docs", "R/docs", nullptr},  // not in /pub: found below the root
        {"\\", "/", "R", nullptr}, {"docs/", "/docs", "R/docs", nullptr}, {"/pub", "/pub", "R/pub", nullptr},
        {"/incoming", nullptr, nullptr, "incoming"},  // a leading "/" looks only below the root
        {"pub/../docs", "/pub/../docs", "R/pub/../docs", nullptr},  // not below /pub: from the root, as given
        {"/", "/", "R", nullptr}, {"..", nullptr, nullptr, ".."}, {"/../x", nullptr, nullptr, "../x"},
        {"\\nowhere\\deep\\", nullptr, nullptr, "nowhere/deep"},
    };
    DirectoryTexts at;
    std::strcpy(at.Local, "R");
    std::strcpy(at.Current, "/");
    for (const Step& step : walk) {
        char argument[PathSize];
        std::strcpy(argument, step.Argument);
        DirectoryTexts to;
        bool moved = ChangeDirectory("R", at, argument, &to, FakeDirectory);
        ASSERT_EQ(moved, step.Current != nullptr) << step.Argument;
        if (!moved) {
            EXPECT_STREQ(argument, step.Quoted) << step.Argument;
            continue;
        }
        EXPECT_STREQ(to.Current, step.Current) << step.Argument;
        EXPECT_STREQ(to.Local, step.Local) << step.Argument;
        at = to;
    }
}

TEST(ChangeDirectory, ANameThatDoesNotFitBelowTheCurrentDirectoryIsTriedFromTheRoot) {
    DirectoryTexts at;
    std::strcpy(at.Local, ("R/" + std::string(1000, 'd')).c_str());
    std::strcpy(at.Current, ("/" + std::string(1000, 'd')).c_str());
    auto everything = [](const char*) { return true; };
    char argument[PathSize] = "longer-than-what-is-left";
    DirectoryTexts to;
    ASSERT_TRUE(ChangeDirectory("R", at, argument, &to, everything));
    EXPECT_STREQ(to.Current, "/longer-than-what-is-left");
    std::string huge(1022, 'h');  // "R/" and this: one more than fits
    std::strcpy(argument, huge.c_str());
    EXPECT_FALSE(ChangeDirectory("R", at, argument, &to, everything));
}

TEST(Listing, LinesNeverOverrunTheBuffer) {
    // The columns, as the file system gives them, are tested end to end.
    char small[100] = "";
    ListingText tight{small, sizeof small};
    EXPECT_TRUE(BuildFileUnit(tight, "first", 0, 1));
    size_t used = tight.Used;
    EXPECT_FALSE(BuildFileUnit(tight, "second-line-that-does-not-fit", 0, 1));
    EXPECT_EQ(tight.Used, used);
    EXPECT_EQ(std::strlen(small), used);

    char date[13];
    FormatListingDate(1703505600, date);  // 25 December 2023, noon UTC
    EXPECT_STREQ(date, "Dec 25  2023");
}

TEST(ChangeDirectoryNormalised, ResolvesDotsNeverAboveTheRootAndLooksOnlyWhereTold) {
    struct Step {
        const char* Argument;
        const char* Current;  // null when CWD fails
    };
    const Step walk[] = {{"..", "/"}, {"pub", "/pub"}, {"docs", nullptr}, {"../docs/.", "/docs"}, {"/pub/incoming", "/pub/incoming"},
                         {"../../../..", "/"}, {"\\pub\\incoming\\..", "/pub"}, {"/", "/"}, {"pub//incoming/", "/pub/incoming"}};
    DirectoryTexts at;
    std::strcpy(at.Local, "R");
    std::strcpy(at.Current, "/");
    for (const Step& step : walk) {
        DirectoryTexts to;
        bool moved = ChangeDirectoryNormalised("R", at, step.Argument, &to, FakeDirectory);
        ASSERT_EQ(moved, step.Current != nullptr) << step.Argument;
        if (!moved) continue;
        EXPECT_STREQ(to.Current, step.Current) << step.Argument;
        EXPECT_EQ(std::string(to.Local), std::string("R") + (std::string(step.Current) == "/" ? "" : step.Current));
        at = to;
    }
}

TEST(Listing, ExtendedLinesAndFacts) {
    DirectoryEntry file;
    file.Kind = FileKind::File;
    file.Permissions = 04755;
    file.Size = 12;
    file.LastWrite = 1141732800;
    file.Links = 2;
    file.Device = 0x801;
    file.Inode = 0xabc;
    file.OwnedByUs = true;
    char mode[11];
    FormatMode(file, mode);
    EXPECT_STREQ(mode, "-rwsr-xr-x");
    char text[1024] = "";
    ListingText listing{text, sizeof text};
    ListingFormat facts{ListingStyle::Facts, AllFacts, 0};
    ASSERT_TRUE(BuildUnit(listing, facts, file, "a b"));
    facts.Facts = FactType | FactModify;
    ASSERT_TRUE(BuildUnit(listing, facts, file, "x", "cdir"));
    ListingFormat names{ListingStyle::Names, AllFacts, 0};
    ASSERT_TRUE(BuildUnit(listing, names, file, "n"));
    EXPECT_STREQ(text, "type=file;size=12;modify=20060307120000;perm=adfwr;unique=801gabc; a b\r\n"
                       "type=cdir;modify=20060307120000; x\r\nn\r\n");

    char date[13];
    FormatLongDate(1141732800, 1141732800 + 3600, date);  // recent: the time of day
    EXPECT_EQ(std::string(date).substr(0, 7), "Mar  7 ");
    EXPECT_EQ(std::string(date)[9], ':');
    FormatLongDate(1141732800, 1141732800 + 200 * 86400, date);  // older than six months: the year
    EXPECT_STREQ(date, "Mar  7  2006");
}

TEST(FactTimes, ParseAndFormatInUtc) {
    const std::pair<const char*, long long> cases[] = {{"19700101000000", 0}, {"20060307120000", 1141732800},
                                                       {"20000229235959.123", 951868799}, {"21000301000000", 4107542400}};
    for (auto [text, seconds] : cases) {
        time_t moment = -1;
        ASSERT_TRUE(ParseFactTime(text, &moment)) << text;
        EXPECT_EQ(moment, seconds) << text;
        char formatted[15];
        FormatFactTime(moment, formatted);
        EXPECT_EQ(std::string(formatted), std::string(text).substr(0, 14));
    }
    for (const char* bad : {"", "2006030712000", "20061307120000", "20060230120000", "21000229000000", "2006030712000x", "20060307120000.", "20060307240000"}) {
        time_t moment;
        EXPECT_FALSE(ParseFactTime(bad, &moment)) << bad;
    }
    char names[96];
    FormatFactNames(FactType | FactModify, true, names, sizeof names);
    EXPECT_STREQ(names, "type*;size;modify*;perm;unique;");
    EXPECT_EQ(ParseFactNames("TYPE;Unique;nonsense;;"), FactType | FactUnique);
}
