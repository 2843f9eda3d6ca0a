// The configuration reader's tricky rules: comments, NULL, trimming, tabs,
// over-long lines, group markers, counts and refusals. (What a whole file
// loads into, the console's views show byte for byte in the end-to-end tests.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/Config.h"
#include "core/Records.h"
#include "tests/unit/TestFiles.h"

namespace {

std::vector<std::string> Values(const std::string& text, int count) {
    FILE* memory = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ConfigFile file{memory, 0};
    std::vector<std::string> values;
    char buffer[ConfigValueSize];
    for (int i = 0; i < count; ++i) {
        int length = GetData(file, buffer);
        EXPECT_EQ(length, static_cast<int>(std::strlen(buffer)));
        values.emplace_back(buffer);
    }
    std::fclose(memory);
    return values;
}

}  // namespace

TEST(GetData, ReadsValuesByTheFileRules) {
    const std::string exact(255, 'e');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"// comment\n\n   \n/E:/ a path is a comment\nfirst\r\n  NULL  \nnull\n\tTabbed \n",
         {"first", "", "null", "\tTabbed", ""}},
        // A line of 255 characters ends at its line end, CR LF included; a longer
        // one is cut, never split into two values.
        {exact + "\nnext\n" + exact + "\r\nnext\n" + std::string(300, 'x') + "\nnext\n" + std::string(100000, 'h') +
             "\nlast\n",
         {exact, "next", exact, "next", std::string(255, 'x'), "next", std::string(255, 'h'), "last"}},
        {exact + "\rmore\n", {exact, ""}},  // a CR inside the line: the line goes on, and is cut
        {"only", {"only", "", ""}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Values(text, static_cast<int>(expected.size())), expected) << text.substr(0, 40);
}

TEST(ConfigNumber, ReadsLikeAtoiWithoutOverflow) {
    const std::pair<const char*, int> cases[] = {{"42abc", 42}, {"\t-7", -7}, {"+8", 8}, {"abc", 0}, {"", 0},
                                                 {"2147483647", 2147483647}, {"99999999999999999999", 2147483647},
                                                 {"-99999999999", -2147483647 - 1}};
    for (auto [text, number] : cases) EXPECT_EQ(ConfigNumber(text), number) << text;
}

class LoadConfigTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    void TearDown() override { EmptyTables(); }
    bool Load(const std::string& text) {
        EmptyTables();  // as at start-up
        return LoadConfig(scratch.Write("config", text).c_str());
    }
};

TEST_F(LoadConfigTest, GroupMarkersTruncationAndLongTexts) {
    ASSERT_TRUE(Load("0\n0\n2\ngrouped\npw\n3\n65535\nstaff\nnext\nNULL\n0\n1\nNULL\n1\n0\n"));
    EXPECT_EQ(std::vector<int>({User[0]->ServerID, User[0]->Enabled, User[0]->MaxConnections, User[0]->DirectoryCount,
                                User[1]->MaxConnections}),
              std::vector<int>({3, -1, 0, 0, 1}));  // the marker ends the user, and shifts nothing
    EXPECT_STREQ(User[1]->Name, "next");

    ASSERT_TRUE(Load("2\n0\nOnly\n1\n"));  // a file cut short reads empty values and zeros
    ASSERT_EQ(ServerCount, 2);
    EXPECT_EQ(std::vector<int>({Server[0]->State, Server[0]->Port, Server[1]->State}), std::vector<int>({1, 0, 0}));
    EXPECT_EQ(UserCount, 0);

    ASSERT_TRUE(Load("1\n0\n" + std::string(40, 'N') + "\n1\n" + std::string(50, 'I') + "\n21\n1\nw\ng\n0\n0\n"));
    EXPECT_EQ(std::string(Server[0]->Name), std::string(19, 'N'));  // display texts are cut
    EXPECT_EQ(std::string(Server[0]->IP), std::string(31, 'I'));
}

TEST_F(LoadConfigTest, RefusesCountsBeyondTheTablesLongCredentialsAndUnreadableFiles) {
    const char* refused[] = {
        "13\n", "-1\n", "2147483647\n", "0\n0\n501\n", "0\n0\n-3\n",
        "0\n0\n1\nu\np\n0\n1\nNULL\n1\n11\n",
        "0\n0\n1\nu\np\n0\n1\nNULL\n1\n-1\n",
        "0\n0\n1\nsixteen-chars-xx\np\n0\n1\nNULL\n1\n0\n",
        "0\n0\n1\nu\nsixteen-chars-xx\n0\n1\nNULL\n1\n0\n",
    };
    for (const char* text : refused) {
        EXPECT_FALSE(Load(text)) << text;
        EXPECT_EQ(ServerCount + UserCount, 0) << text;
        EXPECT_EQ(Server[0], nullptr) << text;
    }
    EXPECT_TRUE(Load("0\n0\n1\nfifteen-chars-x\nfifteen-chars-x\n0\n1\nNULL\n1\n10\n"));
    EXPECT_EQ(User[0]->DirectoryCount, 10);
    EXPECT_FALSE(LoadConfig((scratch.Path + "/absent").c_str()));
    EXPECT_FALSE(LoadConfig(scratch.MakeDirectory("a-directory").c_str()));
}

TEST_F(LoadConfigTest, FindsUsersByExactName) {
    ASSERT_TRUE(Load("0\n0\n3\nAlice\na\n0\n1\nNULL\n1\n0\nalice\nb\n0\n1\nNULL\n1\n0\n"
                     "alice\nc\n0\n1\nNULL\n1\n0\n"));
    const std::pair<const char*, int> cases[] = {{"alice", 1}, {"Alice", 0}, {"ALICE", -1}, {"", -1}};
    for (auto [name, index] : cases) EXPECT_EQ(GetUserByName(name), index) << name;  // the first of equal names
}
