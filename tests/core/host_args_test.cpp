// Command-line options: how each key finds its value, and the launch quality per host.
#include <gtest/gtest.h>

#include <string>

#include "host_args.h"
#include "quality.h"

TEST(ExtractOption, FindsValuesByTheirOwnSearch) {
    struct Case {
        const char* what;
        std::string commandLine, key, expected;
    };
    const Case cases[] = {
        {"unquoted ends at space", "--pipeName=abc --quality=low", "--pipeName=", "abc"},
        {"unquoted runs to end", "--quality=low", "--quality=", "low"},
        {"quoted keeps spaces", R"j(--ndiName="STUDIO (Camera 1)" --quality=low)j",
         "--ndiName=", "STUDIO (Camera 1)"},
        {"quoted value after it is found", R"(--ndiName="A B" --quality=low)", "--quality=", "low"},
        {"absent key", "--pipeName=abc", "--quality=", ""},
        {"empty command line", "", "--pipeName=", ""},
        {"key at end of text", "--pipeName=", "--pipeName=", ""},
        {"key followed by space", "--pipeName= --quality=low", "--pipeName=", ""},
        {"empty quotes", R"(--pipeName="" x)", "--pipeName=", ""},
        {"lone quote", R"(--pipeName=")", "--pipeName=", ""},
        {"open quote runs to end", R"(--pipeName="p1 --quality=low)",
         "--pipeName=", "p1 --quality=low"},
        {"swallowed option still found", R"(--pipeName="p1 --quality=low)", "--quality=", "low"},
        {"first occurrence wins", "--pipeName=a --pipeName=b", "--pipeName=", "a"},
        {"key inside another value wins", R"(--address="x--pipeName=in" --pipeName=out)",
         "--pipeName=", R"(in")"},
        {"tab does not separate", "--pipeName=a\t--quality=low", "--pipeName=", "a\t--quality=low"},
        {"tab-separated key still found", "--pipeName=a\t--quality=low", "--quality=", "low"},
        {"case-sensitive key", "--PipeName=a", "--pipeName=", ""},
        {"quote inside unquoted value stays", R"(--pipeName=a"b c)", "--pipeName=", R"(a"b)"},
        {"no escape inside quotes", R"(--pipeName="a\"b")", "--pipeName=", R"(a\)"},
        {"bytes above 0x7F pass", "--senderName=\xC3\xA9t\xC3\xA9",
         "--senderName=", "\xC3\xA9t\xC3\xA9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractOption(c.commandLine, c.key), c.expected) << c.what;
    }
}

TEST(ParseHostArgs, OptionsInAnyOrderGiveTheSameResult) {
    const std::string orders[] = {
        R"(--pipeName=p --ndiName="Cam 1" --quality=low)",
        R"(--quality=low --pipeName=p --ndiName="Cam 1")",
        R"(--ndiName="Cam 1" --quality=low --pipeName=p)",
    };
    for (const std::string& line : orders) {
        HostArgs args = ParseHostArgs(HostKind::Tivane, line);
        EXPECT_EQ(args.pipeName, "p") << line;
        EXPECT_EQ(args.source, "Cam 1") << line;
        EXPECT_EQ(args.quality, 0) << line;
    }
}

TEST(ParseHostArgs, EachHostReadsItsOwnSourceOption) {
    const std::string line = "--pipeName=p --address=omt://a:1 --ndiName=N --senderName=S";
    EXPECT_EQ(ParseHostArgs(HostKind::Parlex, line).source, "omt://a:1");
    EXPECT_EQ(ParseHostArgs(HostKind::Tivane, line).source, "N");
    EXPECT_EQ(ParseHostArgs(HostKind::Grelm, line).source, "S");
}

TEST(ParseHostArgs, OpenQuotedPipeNameSwallowsQualityButQualityIsSet) {
    HostArgs args = ParseHostArgs(HostKind::Parlex, R"(--pipeName="p1 --quality=Medium)");
    EXPECT_EQ(args.pipeName, "p1 --quality=Medium");
    EXPECT_EQ(args.quality, 50);
}

TEST(ParseHostArgs, MissingPipeNameIsEmpty) {
    EXPECT_EQ(ParseHostArgs(HostKind::Grelm, "").pipeName, "");
    EXPECT_EQ(ParseHostArgs(HostKind::Grelm, "--pipeName= --senderName=S").pipeName, "");
}

TEST(ParseHostArgs, LaunchQualityWordsPerHost) {
    struct Case {
        const char* option;  // nullptr: no quality option at all
        int parlex, tivane;
    };
    const Case cases[] = {
        {nullptr, 100, 100},  {"", 100, 100},     {"Low", 1, 0},        {"low", 1, 0},
        {"LOW", 100, 100},    {"0", 100, 0},      {"Medium", 50, 100},  {"medium", 50, 100},
        {"MEDIUM", 100, 100}, {"High", 100, 100}, {"high", 100, 100},   {"1", 100, 100},
        {"50", 100, 100},     {"\"Low\"", 1, 0},  {"lowest", 100, 100},
    };
    for (const Case& c : cases) {
        std::string line = "--pipeName=p";
        if (c.option) {
            line += std::string(" --quality=") + c.option;
        }
        EXPECT_EQ(ParseHostArgs(HostKind::Parlex, line).quality, c.parlex) << line;
        EXPECT_EQ(ParseHostArgs(HostKind::Tivane, line).quality, c.tivane) << line;
        EXPECT_EQ(ParseHostArgs(HostKind::Grelm, line).quality, 100) << line;
    }
}
