// Command-line options: how the line is cut into arguments, how each key finds its value,
// and the launch quality per host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "host_args.h"
#include "quality.h"

TEST(ExtractOption, TakesTheFirstArgumentThatBeginsWithTheKey) {
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
        {"an option swallowed by an open quote is not one", R"(--pipeName="p1 --quality=low)",
         "--quality=", ""},
        {"first occurrence wins", "--pipeName=a --pipeName=b", "--pipeName=", "a"},
        {"a key inside another value is no option", R"(--address="x --pipeName=in" --pipeName=out)",
         "--pipeName=", "out"},
        {"a key glued inside a value is no option", "--address=x--pipeName=in --pipeName=out",
         "--pipeName=", "out"},
        {"tab separates", "--pipeName=a\t--quality=low", "--pipeName=", "a"},
        {"tab-separated key found", "--pipeName=a\t--quality=low", "--quality=", "low"},
        {"case-sensitive key", "--PipeName=a", "--pipeName=", ""},
        {"quotes inside a value quote its part", R"(--pipeName=a"b c")", "--pipeName=", "ab c"},
        {"an escaped quote inside quotes", R"(--pipeName="a\"b")", "--pipeName=", R"(a"b)"},
        {"backslashes before a closing quote", R"(--address="C:\dir\\" x)",
         "--address=", R"(C:\dir\)"},
        {"backslashes elsewhere are as they are", R"(--address=\\server\share)",
         "--address=", R"(\\server\share)"},
        {"bytes above 0x7F pass", "--senderName=\xC3\xA9t\xC3\xA9",
         "--senderName=", "\xC3\xA9t\xC3\xA9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractOption(c.commandLine, c.key), c.expected) << c.what;
    }
}

// Whatever an argument holds, the host gets it back whole from its quoted form.
TEST(CommandLine, EveryArgumentComesBackWholeFromItsQuotedForm) {
    const std::vector<std::string> arguments = {
        "--quality=low",
        "--ndiName=STUDIO (Camera 1)",
        "--ndiName=x\" --pipeName=evil --quality=\"low",
        "--address=C:\\dir\\",
        "--address=a\\\"b\\\\\"",
        "--senderName=tab\there",
        "--senderName=new\nline",
        "",
        "\"",
        "plain words with spaces",
        "--=odd",
        "\\\\server\\share",
    };
    std::string line;
    for (const std::string& argument : arguments) {
        line += QuoteArgument(argument) + " ";
    }
    EXPECT_EQ(SplitArguments(line), arguments) << line;
    EXPECT_EQ(QuoteArgument("--ndiName=STUDIO (Camera 1)"), R"j(--ndiName="STUDIO (Camera 1)")j");
    EXPECT_EQ(QuoteArgument("--quality=low"), "--quality=low");
    EXPECT_EQ(SplitArguments(R"(a ""b"" "c""d")"), (std::vector<std::string>{"a", "b", R"(c"d)"}));
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

TEST(ParseHostArgs, OpenQuotedPipeNameSwallowsTheRestOfTheLine) {
    HostArgs args = ParseHostArgs(HostKind::Parlex, R"(--pipeName="p1 --quality=Medium)");
    EXPECT_EQ(args.pipeName, "p1 --quality=Medium");
    EXPECT_EQ(args.quality, 100);
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
