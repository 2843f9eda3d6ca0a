// Path confinement and the listing's columns, the parts that must hold for
// every input rather than for the few a client test sends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DataConnection/DataConnection.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "tests/unit/TestFiles.h"

namespace {

std::string Join(const char* root, const char* base, const char* relative, size_t size = 1024) {
    char buffer[1024];
    if (!JoinBelowRoot(root, base, relative, buffer, size)) return "<refused>";
    return buffer;
}

}  // namespace

TEST(JoinBelowRoot, ResolvesDotsAndNeverClimbsAboveTheRoot) {
    EXPECT_EQ(Join("R", "", ""), "R");
    EXPECT_EQ(Join("R", "/pub", "a.txt"), "R/pub/a.txt");
    EXPECT_EQ(Join("R", "/pub", "../docs/./d.txt"), "R/docs/d.txt");
    EXPECT_EQ(Join("R", "/pub/..", "x"), "R/x");
    EXPECT_EQ(Join("R", "//pub//", "//x//"), "R/pub/x");
    EXPECT_EQ(Join("E:/", "", "pub"), "E://pub");
    EXPECT_EQ(Join("E:/", "/pub", ".."), "E:/");
    EXPECT_EQ(Join("R", "", ".."), "<refused>");
    EXPECT_EQ(Join("R", "/pub", "../.."), "<refused>");
    EXPECT_EQ(Join("R", "/pub/..", ".."), "<refused>");
    EXPECT_EQ(Join("R", "", "a/../../x"), "<refused>");
    EXPECT_EQ(Join("R", "", "..."), "R/...");  // only ".." itself climbs
    EXPECT_EQ(Join("../above", "", "x"), "../above/x");  // the root itself is the operator's
}

TEST(JoinBelowRoot, RefusesWhatDoesNotFit) {
    EXPECT_EQ(Join("R", "", "abcd", 7), "R/abcd");
    EXPECT_EQ(Join("R", "", "abcde", 7), "<refused>");
    EXPECT_EQ(Join("R", "", std::string(2000, 'x').c_str()), "<refused>");
    EXPECT_EQ(Join("R", "", (std::string(600, 'x') + "/../" + std::string(600, 'y')).c_str()),
              "R/" + std::string(600, 'y'));
}

TEST(Listing, LinesHaveTheirColumns) {
    char text[1024] = "";
    ListingText listing{text, sizeof text};
    time_t march7 = 1141732800;  // 7 March 2006, noon UTC: the 7th in every time zone
    ASSERT_TRUE(BuildDirectoryUnit(listing, "docs", march7));
    ASSERT_TRUE(BuildFileUnit(listing, "a b.txt", march7, 1234));
    ASSERT_TRUE(BuildFileUnit(listing, "big", march7, 3221225477LL));
    EXPECT_STREQ(text,
                 "dr-xr-xr-x   1 owner    group               0 Mar 07  2006 docs\r\n"
                 "-r-xr-xr-x   1 owner    group            1234 Mar 07  2006 a b.txt\r\n"
                 "-r-xr-xr-x   1 owner    group      3221225477 Mar 07  2006 big\r\n");
    EXPECT_EQ(listing.Used, std::strlen(text));
    EXPECT_EQ(std::string(text).find("docs"), 59u);  // the name from column 60
}

TEST(Listing, NeverOverrunsItsBuffer) {
    char text[100] = "";
    ListingText listing{text, sizeof text};
    EXPECT_TRUE(BuildFileUnit(listing, "first", 0, 1));
    size_t used = listing.Used;
    EXPECT_FALSE(BuildFileUnit(listing, "second-line-that-does-not-fit", 0, 1));
    EXPECT_EQ(listing.Used, used);
    EXPECT_EQ(std::strlen(text), used);
}

TEST(ListingDate, UsesEnglishMonthsAndFourDigitYears) {
    char date[13];
    FormatListingDate(1141732800, date);
    EXPECT_STREQ(date, "Mar 07  2006");
    FormatListingDate(1703505600, date);  // 25 December 2023, noon UTC
    EXPECT_STREQ(date, "Dec 25  2023");
}

TEST(PortArgument, AcceptsSixNumbersOnly) {
    uint8_t n[6];
    ASSERT_TRUE(ParsePortArgument("192,168,1,20,0,21", n));
    EXPECT_EQ(n[0], 192);
    EXPECT_EQ(n[3], 20);
    EXPECT_EQ(n[5], 21);
    EXPECT_TRUE(ParsePortArgument(" 127, 0, 0, 1, 4, 1 ", n));
    EXPECT_EQ(n[4], 4);
    for (const char* bad : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,4,256,1", "1,2,3,4,5,-6", "a,b,c,d,e,f",
                            "1,2,3,4,5,6x", "1,,3,4,5,6", "1000,2,3,4,5,6", "1 ,2,3,4,5,6"})
        EXPECT_FALSE(ParsePortArgument(bad, n)) << bad;
}
