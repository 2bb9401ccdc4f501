// The host's messages, byte for byte as the controlling application reads them, and the
// lines of a source listing.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "json.h"
#include "protocol.h"
#include "startup_failure.h"

TEST(Protocol, MessagesAreExactText) {
    struct Case {
        const char* what;
        std::string actual, expected;
    };
    const Case cases[] = {
        {"host_ready", BuildHostReady(329942, 8124),
         R"({"type":"host_ready","hwnd":329942,"pid":8124})"},
        {"host_ready with a handle past 32 bits", BuildHostReady(0x100000002LL, 1),
         R"({"type":"host_ready","hwnd":4294967298,"pid":1})"},
        {"host_ready with a negative handle", BuildHostReady(-2, 1),
         R"({"type":"host_ready","hwnd":-2,"pid":1})"},
        {"status", BuildStatus("connecting", "STUDIO (Camera 1)"),
         R"j({"type":"status","state":"connecting","source":"STUDIO (Camera 1)"})j"},
        {"status with null source", BuildStatus("disconnected", nullptr),
         R"({"type":"status","state":"disconnected","source":""})"},
        {"status with null state and source", BuildStatus(nullptr, nullptr),
         R"({"type":"status","state":"","source":""})"},
        {"status escapes quote and backslash", BuildStatus("connected", R"(A "B" \C)"),
         R"({"type":"status","state":"connected","source":"A \"B\" \\C"})"},
        {"status escapes line breaks and tab", BuildStatus("error", "a\r\nb\tc"),
         R"({"type":"status","state":"error","source":"a\r\nb\tc"})"},
        {"status passes other bytes, control bytes escaped",
         BuildStatus("connected", "\xC3\xA9\x01"),
         "{\"type\":\"status\",\"state\":\"connected\",\"source\":\"\xC3\xA9\\u0001\"}"},
        {"stats", BuildStats(59.94f, 1920, 1080),
         R"({"type":"stats","fps":59.94,"width":1920,"height":1080})"},
        {"stats of an empty interval", BuildStats(0.0f, 0, 0),
         R"({"type":"stats","fps":0.00,"width":0,"height":0})"},
        {"stats rounds to two decimals", BuildStats(29.996f, 640, 360),
         R"({"type":"stats","fps":30.00,"width":640,"height":360})"},
        {"source", BuildSource("STUDIO (Camera 1)"),
         R"j({"type":"source","name":"STUDIO (Camera 1)"})j"},
        {"source with invalid UTF-8 and a control byte", BuildSource("a\xC3\x28\x1B"),
         "{\"type\":\"source\",\"name\":\"a\xC3\x28\\u001b\"}"},
        {"sources_done", BuildSourcesDone(2, ""), R"({"type":"sources_done","count":2})"},
        {"sources_done with its reason", BuildSourcesDone(0, "Source listing timed out"),
         R"({"type":"sources_done","count":0,"error":"Source listing timed out"})"},
        {"startup_failed",
         BuildStartupFailed({StartupFailure::LibraryNotFound, "libomt.dll not found: C:\\H\\"}),
         R"({"type":"startup_failed","reason":"library_not_found","text":"libomt.dll not found: C:\\H\\"})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.what;
        EXPECT_EQ(c.actual.find_first_of("\r\n"), std::string::npos) << c.what;
    }
}

TEST(Protocol, EscapedSourceReadsBackUnchanged) {
    const std::string names[] = {R"(say "hi")", R"(C:\cams\1)", "\\\"", "trailing \\"};
    for (const std::string& name : names) {
        JsonObject read = ParseJson(BuildStatus("connecting", name.c_str()));
        EXPECT_EQ(read.Get("source"), name);
        EXPECT_EQ(read.Get("state"), "connecting");
        EXPECT_EQ(read.Get("type"), "status");
    }
}

TEST(Protocol, AListingIsOneLinePerDistinctNameThenItsCount) {
    struct Case {
        const char* what;
        FoundSources found;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"nothing found", {}, {R"({"type":"sources_done","count":0})"}},
        {"names in the finder's order",
         {{"B", "A"}, ""},
         {R"({"type":"source","name":"B"})", R"({"type":"source","name":"A"})",
          R"({"type":"sources_done","count":2})"}},
        {"repeats and empty names left out of lines and count",
         {{"A", "", "A", "B", "A"}, ""},
         {R"({"type":"source","name":"A"})", R"({"type":"source","name":"B"})",
          R"({"type":"sources_done","count":2})"}},
        {"an error",
         {{}, "Source listing not supported"},
         {R"({"type":"sources_done","count":0,"error":"Source listing not supported"})"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildListing(c.found), c.lines) << c.what;
    }
    // Names read back exactly, whatever bytes they hold.
    const std::string odd[] = {"say \"hi\"", "C:\\cams\\1", "tab\there\r\n",
                               "\x01\x1F\x7F\xFF\xC3"};
    const std::vector<std::string> lines =
        BuildListing({std::vector<std::string>(std::begin(odd), std::end(odd)), ""});
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ParseJson(lines[i]).Get("name"), odd[i]);
        for (char c : lines[i]) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << lines[i];
        }
    }
}

// What a controller reads back from a host's standard error, whatever else a library
// wrote there around the host's one line.
TEST(Protocol, AStartupFailureReadsBackFromTheHostsErrorOutput) {
    const StartupFailure reasons[] = {
        StartupFailure::BadCommandLine,  StartupFailure::NoWindow,
        StartupFailure::NoDevice,        StartupFailure::LibraryNotFound,
        StartupFailure::LibraryUnusable, StartupFailure::PipeNotOpened,
        StartupFailure::Other,
    };
    for (StartupFailure reason : reasons) {
        StartupProblem read =
            ReadStartupFailed(BuildStartupFailed({reason,
                                                  "why, \"quoted\"\tand\nbroken\r\x01"
                                                  "cut" +
                                                      std::string(1, '\0') + "short"}) +
                              "\n");
        EXPECT_EQ(read.reason, reason) << StartupFailureWord(reason);
        // One line, whole: control bytes become spaces.
        EXPECT_EQ(read.text, "why, \"quoted\" and broken  cut short");
    }
    struct Case {
        const char* what;
        std::string output;
        StartupFailure reason;
        std::string text;
    };
    const std::string line = BuildStartupFailed({StartupFailure::NoDevice, "0x887A0004"});
    const Case cases[] = {
        {"nothing written", "", StartupFailure::None, ""},
        {"only a library's chatter", "warning: slow network\r\n", StartupFailure::None, ""},
        {"after chatter", "warning 1\r\nwarning 2\n" + line + "\n", StartupFailure::NoDevice,
         "0x887A0004"},
        {"after chatter without its line feed", "partial" + line + "\n", StartupFailure::NoDevice,
         "0x887A0004"},
        {"without a line feed of its own", line, StartupFailure::NoDevice, "0x887A0004"},
        {"the last of two",
         BuildStartupFailed({StartupFailure::NoWindow, "first"}) + "\n" + line + "\n",
         StartupFailure::NoDevice, "0x887A0004"},
        {"a reason from a newer host",
         R"({"type":"startup_failed","reason":"no_licence","text":"t"})", StartupFailure::Other,
         "t"},
        {"no reason at all", R"({"type":"startup_failed"})", StartupFailure::Other, ""},
        {"another type", R"({"type":"status","reason":"no_device"})", StartupFailure::None, ""},
    };
    for (const Case& c : cases) {
        StartupProblem read = ReadStartupFailed(c.output);
        EXPECT_EQ(read.reason, c.reason) << c.what;
        EXPECT_EQ(read.text, c.text) << c.what;
    }
}
