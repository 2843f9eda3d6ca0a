// The configuration reader's tricky rules: comments, NULL, trimming, tabs,
// over-long lines, group markers, counts and refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>
#include <string>

#include "core/Config.h"
#include "core/Records.h"
#include "tests/unit/TestFiles.h"

namespace {

// A FILE* holding the given bytes, read from its start.
struct MemoryFile {
    FILE* File = std::tmpfile();
    explicit MemoryFile(const std::string& bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), File);
        std::rewind(File);
    }
    ~MemoryFile() { std::fclose(File); }
};

std::vector<std::string> Values(const std::string& text, int count) {
    MemoryFile memory(text);
    ConfigFile file{memory.File, 0};
    std::vector<std::string> values;
    char buffer[ConfigValueSize];
    for (int i = 0; i < count; ++i) {
        int length = GetData(file, buffer);
        EXPECT_EQ(length, static_cast<int>(std::strlen(buffer)));
        values.emplace_back(buffer);
    }
    return values;
}

}  // namespace

TEST(Fgetline, ReadsLinesAndReportsTheEnd) {
    MemoryFile memory("one\n\ntwo-without-end");
    char buffer[8];
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "one");
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), 0);
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), 7);  // at most size - 1 characters
    EXPECT_STREQ(buffer, "two-wit");
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "hout-en");
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), 1);
    EXPECT_EQ(fgetline(memory.File, buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "");
}

TEST(Trim, RemovesOnlyTheSpecifiedCharacters) {
    char right[] = "  value \t \r \r";
    EXPECT_STREQ(rtrimstr(right), "  value \t");
    char left[] = " \n \tvalue ";
    EXPECT_STREQ(ltrimstr(left), "\tvalue ");
    char empty[] = "";
    EXPECT_STREQ(ltrimstr(rtrimstr(empty)), "");
}

TEST(GetData, SkipsCommentsAndBlankLinesAndReadsNull) {
    auto values = Values("// comment\n\n   \n/E:/ a path is a comment\nfirst\r\n  NULL  \nnull\n\tTabbed \n", 5);
    EXPECT_EQ(values, (std::vector<std::string>{"first", "", "null", "\tTabbed", ""}));
}

TEST(GetData, CutsAnOverlongLineInsteadOfSplittingIt) {
    std::string exact(255, 'e');
    std::string longer(300, 'x');
    std::string huge(100000, 'h');
    auto values = Values(exact + "\nafter-exact\n" + longer + "\nafter-long\n" + huge + "\nlast\n", 6);
    EXPECT_EQ(values[0], exact);
    EXPECT_EQ(values[1], "after-exact");
    EXPECT_EQ(values[2], std::string(255, 'x'));
    EXPECT_EQ(values[3], "after-long");
    EXPECT_EQ(values[4], std::string(255, 'h'));
    EXPECT_EQ(values[5], "last");
}

TEST(GetData, ReturnsEmptyValuesAtTheEnd) {
    auto values = Values("only", 3);
    EXPECT_EQ(values, (std::vector<std::string>{"only", "", ""}));
}

TEST(ConfigNumber, ReadsLikeAtoiWithoutOverflow) {
    EXPECT_EQ(ConfigNumber("42abc"), 42);
    EXPECT_EQ(ConfigNumber("\t-7"), -7);
    EXPECT_EQ(ConfigNumber("+8"), 8);
    EXPECT_EQ(ConfigNumber("abc"), 0);
    EXPECT_EQ(ConfigNumber(""), 0);
    EXPECT_EQ(ConfigNumber("2147483647"), 2147483647);
    EXPECT_EQ(ConfigNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ConfigNumber("-99999999999"), -2147483647 - 1);
}

class LoadConfigTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    void TearDown() override { ForgetTables(); }
    bool Load(const std::string& text) {
        std::string path = scratch.Write("config", text);
        return LoadConfig(path.c_str());
    }
};

TEST_F(LoadConfigTest, LoadsTheExampleLayout) {
    ASSERT_TRUE(Load("1\n0\nTest\n1\nNULL\n21\n10\nWelcome!\nBye!\n0\n1\n"
                     "anonymous\nNULL\n0\n1\nNULL\n2\n1\nDefault\nE:/\n0\n-1\n"));
    ASSERT_EQ(ServerCount, 1);
    EXPECT_EQ(Server[0]->ID, 0);
    EXPECT_STREQ(Server[0]->Name, "Test");
    EXPECT_EQ(Server[0]->State, 1);
    EXPECT_STREQ(Server[0]->IP, "");
    EXPECT_EQ(Server[0]->Port, 21);
    EXPECT_EQ(Server[0]->MaxConnections, 10);
    EXPECT_STREQ(Server[0]->WelcomeText, "Welcome!");
    EXPECT_STREQ(Server[0]->GoodByeText, "Bye!");
    ASSERT_EQ(UserCount, 1);
    EXPECT_STREQ(User[0]->Name, "anonymous");
    EXPECT_STREQ(User[0]->PassWord, "");
    EXPECT_EQ(User[0]->Enabled, 1);
    EXPECT_EQ(User[0]->MaxConnections, 2);
    ASSERT_EQ(User[0]->DirectoryCount, 1);
    EXPECT_STREQ(User[0]->Directories[0]->Name, "Default");
    EXPECT_STREQ(User[0]->Directories[0]->Path, "E:/");
}

TEST_F(LoadConfigTest, GroupMarkerEndsTheUserAndShiftsNothing) {
    ASSERT_TRUE(Load("0\n0\n2\ngrouped\npw\n3\n65535\nstaff\nnext\nNULL\n0\n1\nNULL\n1\n0\n"));
    ASSERT_EQ(UserCount, 2);
    EXPECT_STREQ(User[0]->Name, "grouped");
    EXPECT_EQ(User[0]->ServerID, 3);
    EXPECT_EQ(User[0]->Enabled, -1);
    EXPECT_EQ(User[0]->MaxConnections, 0);
    EXPECT_EQ(User[0]->DirectoryCount, 0);
    EXPECT_STREQ(User[1]->Name, "next");
    EXPECT_EQ(User[1]->MaxConnections, 1);
}

TEST_F(LoadConfigTest, TruncatedFileLoadsEmptyValuesAndZeros) {
    ASSERT_TRUE(Load("2\n0\nOnly\n1\n"));
    ASSERT_EQ(ServerCount, 2);
    EXPECT_EQ(Server[0]->State, 1);
    EXPECT_EQ(Server[0]->Port, 0);
    EXPECT_STREQ(Server[1]->Name, "");
    EXPECT_EQ(Server[1]->State, 0);
    EXPECT_EQ(UserCount, 0);
}

TEST_F(LoadConfigTest, CutsLongDisplayTexts) {
    ASSERT_TRUE(Load("1\n0\n" + std::string(40, 'N') + "\n1\n" + std::string(50, 'I') + "\n21\n1\nw\ng\n0\n0\n"));
    EXPECT_EQ(std::string(Server[0]->Name), std::string(19, 'N'));
    EXPECT_EQ(std::string(Server[0]->IP), std::string(31, 'I'));
}

TEST_F(LoadConfigTest, RefusesCountsBeyondTheTablesAndLongCredentials) {
    const char* refused[] = {
        "13\n",
        "-1\n",
        "2147483647\n",
        "0\n0\n501\n",
        "0\n0\n-3\n",
        "0\n0\n1\nu\np\n0\n1\nNULL\n1\n11\n",
        "0\n0\n1\nu\np\n0\n1\nNULL\n1\n-1\n",
        "0\n0\n1\nsixteen-chars-xx\np\n0\n1\nNULL\n1\n0\n",
        "0\n0\n1\nu\nsixteen-chars-xx\n0\n1\nNULL\n1\n0\n",
    };
    for (const char* text : refused) {
        EXPECT_FALSE(Load(text)) << text;
        EXPECT_EQ(ServerCount, 0) << text;
        EXPECT_EQ(UserCount, 0) << text;
        EXPECT_EQ(Server[0], nullptr) << text;
    }
    EXPECT_TRUE(Load("0\n0\n1\nfifteen-chars-x\nfifteen-chars-x\n0\n1\nNULL\n1\n10\n"));
    EXPECT_EQ(User[0]->DirectoryCount, 10);
}

TEST_F(LoadConfigTest, MissingFileIsFalse) {
    EXPECT_FALSE(LoadConfig((scratch.Path + "/absent").c_str()));
}

TEST_F(LoadConfigTest, FindsUsersByExactName) {
    ASSERT_TRUE(Load("0\n0\n3\nAlice\na\n0\n1\nNULL\n1\n0\nalice\nb\n0\n1\nNULL\n1\n0\n"
                     "alice\nc\n0\n1\nNULL\n1\n0\n"));
    EXPECT_EQ(GetUserByName("alice"), 1);  // the first of two with the same name
    EXPECT_EQ(GetUserByName("Alice"), 0);
    EXPECT_EQ(GetUserByName("ALICE"), -1);
    EXPECT_EQ(GetUserByName(""), -1);
}
