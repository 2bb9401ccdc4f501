// The controller's Win32-free side, natively: commands arrive in the host exactly as the
// application meant them, the host's lines become the right events, source listings are
// gathered whole, the command line survives the host's own option parser, the event
// queue never blocks its writer, and each thread calling a handle has its own results.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "event_queue.h"
#include "handle_lifetime.h"
#include "host_args.h"
#include "host_commands.h"
#include "host_environment.h"
#include "host_event.h"
#include "json.h"
#include "source_gatherer.h"
#include "view_layout.h"

namespace {

TEST(ControllerCommands, ValuesReachTheHostsReaderAsWritten) {
    const std::string names[] = {
        "STUDIO (Camera 1)",
        "quote \" backslash \\ end",
        std::string("line\nfeed, return\r and tab\t"),
        "{\"nested\":1},\"type\":\"shutdown\"}",  // would end or hijack a bare value
        "\\u0041 and \\/ stay as written",
        "caf\xc3\xa9 \x01 bytes",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        for (const std::string& command : {SetSourceCommand(name), SetSourceCommand(name, name)}) {
            EXPECT_EQ(command.find('\n'), std::string::npos) << "a command is one line";
            JsonObject read = ParseJson(command);
            EXPECT_EQ(read.Get("type"), "set_source");
            EXPECT_EQ(read.Get("name"), name);
        }
        EXPECT_EQ(ParseJson(SetSourceCommand(name, name)).Get("quality"), name);
        EXPECT_EQ(ParseJson(SetQualityCommand(name)).Get("quality"), name);
        EXPECT_EQ(ParseJson(SetQualityCommand(name)).Get("type"), "set_quality");
    }
    EXPECT_EQ(ParseJson(SetSourceCommand("A")).fields.count("quality"), 0u);
    EXPECT_EQ(ShutdownCommand(), "{\"type\":\"shutdown\"}");
}

TEST(ControllerCommands, ValuesTheHostWouldMisreadAreRefused) {
    struct Case {
        std::string name;
        std::string quality;
        bool nameOk;
        bool qualityOk;
    };
    const Case cases[] = {
        {"A", "low", true, true},
        {"", "", false, true},
        {std::string("A\0B", 3), std::string("lo\0w", 4), false, false},
        {" ", "High", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckSourceName(c.name).empty(), c.nameOk) << c.name;
        EXPECT_EQ(CheckQuality(c.quality).empty(), c.qualityOk) << c.quality;
    }
}

TEST(ControllerEvents, HostLinesBecomeTypedEvents) {
    HostEvent ready = DecodeHostLine("{\"type\":\"host_ready\",\"hwnd\":8589934594,\"pid\":8124}");
    EXPECT_EQ(ready.type, HostEventType::Ready);
    EXPECT_EQ(ready.window, 8589934594LL);  // handles are 64-bit
    EXPECT_EQ(ready.processId, 8124u);

    HostEvent status =
        DecodeHostLine("{\"type\":\"status\",\"state\":\"connecting\",\"source\":\"A \\\"B\\\"\"}");
    EXPECT_EQ(status.type, HostEventType::Status);
    EXPECT_EQ(status.state, "connecting");
    EXPECT_EQ(status.source, "A \"B\"");

    HostEvent stats =
        DecodeHostLine("{\"type\":\"stats\",\"fps\":29.97,\"width\":1920,\"height\":1080}");
    EXPECT_EQ(stats.type, HostEventType::Stats);
    EXPECT_EQ(stats.fps, 29.97);  // the nearest double, as a compiler reads the literal
    EXPECT_EQ(stats.width, 1920);
    EXPECT_EQ(stats.height, 1080);

    HostEvent frameSize = DecodeHostLine("{\"type\":\"frame_size\",\"width\":180,\"height\":240}");
    EXPECT_EQ(frameSize.type, HostEventType::FrameSize);
    EXPECT_EQ(frameSize.width, 180);
    EXPECT_EQ(frameSize.height, 240);

    struct Odd {
        const char* line;
        HostEventType type;
    };
    const Odd odd[] = {
        {"{\"type\":\"stats\",\"fps\":\"x\",\"width\":-,\"height\":}", HostEventType::Stats},
        {"{\"type\":\"telemetry\",\"fps\":1}", HostEventType::Other},
        {"not json", HostEventType::Other},
        {"", HostEventType::Other},
    };
    for (const Odd& o : odd) {
        HostEvent event = DecodeHostLine(o.line);
        EXPECT_EQ(event.type, o.type) << o.line;
        EXPECT_EQ(event.line, o.line);
        EXPECT_EQ(event.fps, 0.0) << o.line;
        EXPECT_EQ(event.width, 0) << o.line;
    }
}

// Where a view puts the picture: the frame's shape centred in the rectangle, rounded to
// whole pixels, whatever the sizes; the whole rectangle when asked or when the shape is
// not known.
TEST(ViewLayout, ThePictureKeepsTheFramesShapeInsideTheRectangle) {
    struct Row {
        ViewRect area;
        int frameWidth, frameHeight;
        ViewFit fit;
        ViewRect picture;
    };
    const ViewRect tile = {10, 20, 410, 320};  // 400 x 300
    const Row rows[] = {
        {tile, 1920, 1080, ViewFit::Letterbox, {10, 57, 410, 282}},  // bars above and below
        {tile, 300, 600, ViewFit::Letterbox, {135, 20, 285, 320}},   // bars at the sides
        {tile, 4, 3, ViewFit::Letterbox, tile},                      // the same shape
        {tile, 1920, 1080, ViewFit::Fill, tile},
        {tile, 0, 0, ViewFit::Letterbox, tile},                      // no frame yet
        {tile, 100000, 1, ViewFit::Letterbox, {10, 169, 410, 170}},  // never thinner than 1
        {{0, 0, 0, 300}, 16, 9, ViewFit::Letterbox, {}},             // nothing to fill
        {{0, 0, 2000000000, 2000000000},
         16,
         9,
         ViewFit::Letterbox,
         {0, 437500000, 2000000000, 1562500000}},  // no overflow
    };
    for (const Row& row : rows) {
        ViewRect picture = FitPicture(row.area, row.frameWidth, row.frameHeight, row.fit);
        EXPECT_TRUE(picture == row.picture)
            << row.frameWidth << "x" << row.frameHeight << ": " << picture.left << ","
            << picture.top << "," << picture.right << "," << picture.bottom;
    }
    EXPECT_TRUE(IntersectRects({0, 0, 100, 100}, {50, 60, 200, 200}) ==
                (ViewRect{50, 60, 100, 100}));
    EXPECT_TRUE(IntersectRects({0, 0, 100, 100}, {100, 0, 200, 100}).empty());
}

// A listing that is not whole says why: the host's reason, a line lost, a host that
// lists without end (what one listing keeps is bounded); a name holding a NUL byte is left
// out. Whole listings, with other lines between, are rows of the tests against the hosts.
TEST(ControllerListing, AListingThatIsNotWholeSaysWhy) {
    const std::string big(SourceGatherer::kMaxListingBytes / 4 - SourceGatherer::kNameBytes, 'n');
    const std::string source = "{\"type\":\"source\",\"name\":\"";
    const std::string done = "{\"type\":\"sources_done\",\"count\":";
    struct Case {
        std::vector<std::string> sources;
        std::string closing;
        size_t names;
        const char* error;
    };
    const Case cases[] = {
        {{},
         done + "0,\"error\":\"Source listing not supported\"}",
         0,
         "Source listing not supported"},
        {{source + "A\"}"}, done + "2}", 1, "the host counted 2 sources, 1 arrived"},
        {std::vector<std::string>(5, source + big + "\"}"), done + "5}", 4,
         "the first 4 of 5 are given"},
        // Whole, but a name no C string can carry is left out.
        {{source + "A\"}", source + "B\\u0000C\"}"}, done + "2}", 1, ""},
    };
    for (const Case& c : cases) {
        SourceGatherer gatherer;
        HostEvent listing;
        for (const std::string& line : c.sources) {
            EXPECT_EQ(gatherer.Take(line, listing), SourceGatherer::Taken::Kept);
        }
        ASSERT_EQ(gatherer.Take(c.closing, listing), SourceGatherer::Taken::Closed);
        EXPECT_EQ(listing.names.size(), c.names);
        EXPECT_NE(listing.error.find(c.error), std::string::npos) << listing.error;
    }
    // Nameless sources without end: what keeps each name counts against the bound too.
    SourceGatherer small(10 * SourceGatherer::kNameBytes);
    HostEvent listing;
    for (int i = 0; i < 12; ++i) {
        small.Take(source + "\"}", listing);
    }
    ASSERT_EQ(small.Take(done + "12}", listing), SourceGatherer::Taken::Closed);
    EXPECT_EQ(listing.names.size(), 10u);
    EXPECT_NE(listing.error.find("the first 10 of 12"), std::string::npos) << listing.error;
}

// The JSON grammar alone, never the C locale.
TEST(ControllerEvents, NumbersAreReadAsJsonWrites) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"59.94", 59.94}, {"-12.5", -12.5}, {"2.5E-2", 0.025},
        {"60", 60.0},     {"29,97", 0.0},   {"1.", 0.0},
        {".5", 0.0},      {"1e", 0.0},      {"0.1234567890123456789", 0.12345678901234568},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(ReadJsonNumber(c.text), c.value) << c.text;
    }
}

// The refusals a C caller meets are rows of the C interface test; these are the forms
// that must pass, with the folder the host then runs in.
TEST(ControllerLaunch, OnlyAnAbsolutePathToAnExeIsStarted) {
    struct Case {
        const char* path;
        bool ok;
        const char* folder;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Hosts\\Tivane.exe", true, "C:\\Program Files\\Hosts\\"},
        {"c:/hosts/Parlex.EXE", true, "c:/hosts/"},
        {"\\\\server\\share\\Grelm.exe", true, "\\\\server\\share\\"},
        {"D:\\Tivane.exe", true, "D:\\"},
        {"hosts\\Tivane.exe", false, ""},
        {"C:\\hosts\\Tivane", false, ""},
        {"C:\\hosts\\.exe", false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckHostExecutable(c.path).empty(), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(HostFolder(c.path), c.folder);
        }
    }
}

TEST(ControllerLaunch, TheHostFindsEveryOptionAsGiven) {
    struct Case {
        HostKind kind;
        std::vector<std::string> arguments;
        std::string source;
        int quality;
    };
    const Case cases[] = {
        {HostKind::Tivane,
         {"--ndiName=STUDIO (Camera 1)", "--quality=low"},
         "STUDIO (Camera 1)",
         0},
        {HostKind::Parlex,
         {"--address=omt://10.0.0.5:6400", "--quality=Medium"},
         "omt://10.0.0.5:6400",
         50},
        {HostKind::Grelm, {"--senderName=\"Quoted\" Sender"}, "\"Quoted\" Sender", 100},
        // Arguments that carry option text, quotes and backslashes set no option of their own.
        {HostKind::Tivane, {"--ndiName=x --pipeName=evil"}, "x --pipeName=evil", 100},
        {HostKind::Tivane,
         {"--ndiName=x\" --quality=low --pipeName=\"evil", "--quality=high"},
         "x\" --quality=low --pipeName=\"evil",
         100},
        {HostKind::Parlex, {"--address=a\\\" --quality=Low \\"}, "a\\\" --quality=Low \\", 100},
        {HostKind::Parlex, {"--address=x--quality=Low"}, "x--quality=Low", 100},
    };
    for (const Case& c : cases) {
        std::string line =
            HostCommandLine("C:\\Program Files\\Hosts\\Host.exe", "ctl-1-ab", c.arguments);
        SCOPED_TRACE(line);
        // The host sees what follows the quoted program name.
        HostArgs args = ParseHostArgs(c.kind, line.substr(line.find("\" ") + 2));
        EXPECT_EQ(args.pipeName, "ctl-1-ab");
        EXPECT_EQ(args.source, c.source);
        EXPECT_EQ(args.quality, c.quality);
    }
    EXPECT_EQ(HostCommandLine("H.exe", "", {"--quality=low"}), "\"H.exe\" --quality=low");
}

TEST(ControllerLaunch, TheHostsEnvironmentIsOursWithItsOwnVariablesAndLibraryFolderFirst) {
    struct Case {
        const char* what;
        std::vector<std::wstring> inherited;
        std::vector<std::wstring> overrides;
        std::wstring folder;
        std::vector<std::wstring> expected;
    };
    const std::vector<std::wstring> ours = {L"=C:=C:\\work", L"windir=C:\\Windows",
                                            L"Path=C:\\Windows;C:\\bin", L"TEMP=C:\\T"};
    const Case cases[] = {
        {"a variable of its own, in its place by name",
         ours,
         {L"NDI_RUNTIME=C:\\ndi"},
         L"",
         {L"=C:=C:\\work", L"NDI_RUNTIME=C:\\ndi", L"Path=C:\\Windows;C:\\bin", L"TEMP=C:\\T",
          L"windir=C:\\Windows"}},
        {"names compare without case: the override wins, once",
         ours,
         {L"temp=D:\\", L"TEMP=E:\\"},
         L"",
         {L"=C:=C:\\work", L"Path=C:\\Windows;C:\\bin", L"TEMP=E:\\", L"windir=C:\\Windows"}},
        {"the library folder first on PATH, whatever its case",
         ours,
         {},
         L"D:\\NDI 6 Runtime\\",
         {L"=C:=C:\\work", L"Path=D:\\NDI 6 Runtime\\;C:\\Windows;C:\\bin", L"TEMP=C:\\T",
          L"windir=C:\\Windows"}},
        {"a PATH of its own gets the folder too",
         ours,
         {L"PATH=E:\\only"},
         L"D:\\sim",
         {L"=C:=C:\\work", L"PATH=D:\\sim;E:\\only", L"TEMP=C:\\T", L"windir=C:\\Windows"}},
        {"no PATH at all", {L"A=1"}, {}, L"D:\\sim", {L"A=1", L"PATH=D:\\sim"}},
        {"a value holding '='", {}, {L"OPTS=a=b"}, L"", {L"OPTS=a=b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HostEnvironment(c.inherited, c.overrides, c.folder), c.expected) << c.what;
    }
    EXPECT_EQ(EnvironmentBlock({L"A=1", L"B=2"}), std::wstring(L"A=1\0B=2\0\0", 9));
    EXPECT_EQ(EnvironmentBlock({}), std::wstring(L"\0\0", 2));

    struct Check {
        std::string value;
        bool entryOk;
        bool folderOk;
    };
    const Check checks[] = {
        {"NAME=value", true, false},
        {"NAME=", true, false},
        {"=value", false, false},
        {"NAME", false, false},
        {std::string("N=a\0b", 5), false, false},
        {"C:\\NDI Runtime\\v6", false, true},
        {"\\\\server\\runtimes", false, true},
        {"runtimes\\v6", false, false},
        {"C:\\a;b", false, false},
        {"C:\\\"a\"", false, false},
    };
    for (const Check& c : checks) {
        EXPECT_EQ(CheckEnvironmentEntry(c.value).empty(), c.entryOk) << c.value;
        EXPECT_EQ(CheckLibraryFolder(c.value).empty(), c.folderOk) << c.value;
    }
}

HostEvent Event(HostEventType type, int width = 0) {
    HostEvent event;
    event.type = type;
    event.width = width;
    return event;
}

TEST(ControllerEventQueue, AFullQueueDropsTheOldestReportsButNeverTheLifecycle) {
    EventQueue queue(4);
    queue.Push(Event(HostEventType::PipeOpened));
    queue.Push(Event(HostEventType::Ready));
    for (int i = 1; i <= 10; ++i) {
        queue.Push(Event(HostEventType::Stats, i));
    }
    queue.Push(Event(HostEventType::Unterminated));
    queue.Push(Event(HostEventType::Exited));
    queue.Close();
    std::vector<HostEvent> taken;
    HostEvent event;
    while (queue.Pop(event, 0)) {
        taken.push_back(event);
    }
    EXPECT_TRUE(queue.Drained());
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[0].type, HostEventType::PipeOpened);
    EXPECT_EQ(taken[1].type, HostEventType::Ready);
    EXPECT_EQ(taken[2].type, HostEventType::Unterminated);
    EXPECT_EQ(taken[3].type, HostEventType::Exited);
    EXPECT_EQ(queue.dropped(), 10u);

    // The oldest report goes, not the newest.
    EventQueue four(4);
    four.Push(Event(HostEventType::PipeOpened));
    four.Push(Event(HostEventType::Ready));
    for (int i = 1; i <= 5; ++i) {
        four.Push(Event(HostEventType::Stats, i));
    }
    std::vector<std::pair<HostEventType, int>> kept;
    while (four.Pop(event, 0)) {
        kept.emplace_back(event.type, event.width);
    }
    EXPECT_EQ(kept, (std::vector<std::pair<HostEventType, int>>{{HostEventType::PipeOpened, 0},
                                                                {HostEventType::Ready, 0},
                                                                {HostEventType::Stats, 4},
                                                                {HostEventType::Stats, 5}}));
    EXPECT_EQ(four.dropped(), 3u);

    // A listing that answers a request stays; one nobody asked for goes like a report.
    EventQueue three(3);
    three.Push(Event(HostEventType::PipeOpened));
    three.Push(Event(HostEventType::Sources, 10));
    three.PushDroppable(Event(HostEventType::Sources, 11));
    three.Push(Event(HostEventType::Stats, 1));
    three.Push(Event(HostEventType::Stats, 2));
    kept.clear();
    while (three.Pop(event, 0)) {
        kept.emplace_back(event.type, event.width);
    }
    EXPECT_EQ(kept, (std::vector<std::pair<HostEventType, int>>{{HostEventType::PipeOpened, 0},
                                                                {HostEventType::Sources, 10},
                                                                {HostEventType::Stats, 2}}));
    EXPECT_EQ(three.dropped(), 2u);

    EventQueue roomy(100);
    for (int i = 1; i <= 3; ++i) {
        roomy.Push(Event(HostEventType::Stats, i));
    }
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(roomy.Pop(event, 0));
        EXPECT_EQ(event.width, i) << "in order";
    }
    EXPECT_FALSE(roomy.Pop(event, 0)) << "empty, not closed: a timeout";
    EXPECT_FALSE(roomy.Drained());
}

TEST(ControllerEventQueue, AWaitingTakerGetsEverythingThenTheEnd) {
    EventQueue queue(8);
    std::vector<int> widths;
    std::thread taker([&] {
        HostEvent event;
        while (queue.Pop(event, kWaitForever)) {
            widths.push_back(event.width);
        }
    });
    for (int i = 1; i <= 5; ++i) {
        queue.Push(Event(HostEventType::Stats, i));
    }
    queue.Close();
    taker.join();
    EXPECT_EQ(widths, (std::vector<int>{1, 2, 3, 4, 5}));
}

// A handle whose host is nothing: the calls' bookkeeping alone.
class BareHandle : public HandleLifetime {
    bool MustNotWait() override { return false; }
    void EndHost() override {}
};

// A thread that comes after another has ended (with the id the system may give it again)
// starts with nothing of the other's results, and the records of ended threads go.
TEST(ControllerHandle, EachThreadHasItsOwnRecordUntilItEnds) {
    auto* handle = new BareHandle;
    {
        HandleLifetime::Call call(*handle);
        call.record().error = "the main thread's";
    }
    for (int i = 0; i < 50; ++i) {
        std::thread([handle, i] {
            HandleLifetime::Call call(*handle);
            EXPECT_EQ(call.record().error, "") << "thread " << i << " was given another's";
            call.record().error = "thread " + std::to_string(i);
        }).join();
    }
    EXPECT_LE(handle->threadRecords(), 2u) << "the records of ended threads are kept";
    {
        HandleLifetime::Call call(*handle);
        EXPECT_EQ(call.record().error, "the main thread's");
    }
    HandleLifetime::Destroy(handle);
}

}  // namespace
