// The command tables of the three hosts, from the received line to the receiver calls,
// against a recording receiver; and the line cutting in front of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "command_handler.h"
#include "line_splitter.h"

namespace {

class RecordingReceiver : public ReceiverControl {
public:
    explicit RecordingReceiver(HostKind kind) : kind_(kind) {}
    void Stop() override { calls.push_back("Stop"); }
    void Start(const std::string& source, int quality) override {
        // Grelm has no quality: whatever the handler passes means nothing.
        calls.push_back(kind_ == HostKind::Grelm
                            ? "Start(" + source + ")"
                            : "Start(" + source + "," + std::to_string(quality) + ")");
    }
    void SetQuality(int quality) override {
        calls.push_back("SetQuality(" + std::to_string(quality) + ")");
    }
    void ListSources() override { calls.push_back("List"); }
    void KeepWindowSize(bool kept) override { calls.push_back(kept ? "Keep" : "Follow"); }
    void RequestQuit() override { calls.push_back("Quit"); }

    std::vector<std::string> calls;

private:
    HostKind kind_;
};

struct Row {
    HostKind kind;
    std::vector<std::string> lines;
    std::vector<std::string> calls;
    int rememberedAfter;  // starting from 7, a value no quality word gives
};

const HostKind T = HostKind::Tivane;
const HostKind P = HostKind::Parlex;
const HostKind G = HostKind::Grelm;

std::string Source(const std::string& name, const std::string& qualityField = "") {
    return R"({"type":"set_source","name":")" + name + "\"" + qualityField + "}";
}
std::string Quality(const std::string& qualityField) {
    return R"({"type":"set_quality")" + qualityField + "}";
}

const Row kRows[] = {
    // Tivane: non-empty words become the remembered bandwidth.
    {T, {Source("A")}, {"Stop", "Start(A,7)"}, 7},
    {T, {Source("A", R"(,"quality":"low")")}, {"Stop", "Start(A,0)"}, 0},
    {T, {Source("A", R"(,"quality":"Low")")}, {"Stop", "Start(A,0)"}, 0},
    {T, {Source("A", R"(,"quality":"0")")}, {"Stop", "Start(A,0)"}, 0},
    {T, {Source("A", R"(,"quality":0)")}, {"Stop", "Start(A,0)"}, 0},
    {T, {Source("A", R"(,"quality":"High")")}, {"Stop", "Start(A,100)"}, 100},
    {T, {Source("A", R"(,"quality":"medium")")}, {"Stop", "Start(A,100)"}, 100},
    {T, {Source("A", R"(,"quality":"LOW")")}, {"Stop", "Start(A,100)"}, 100},
    {T, {Source("A", R"(,"quality":"")")}, {"Stop", "Start(A,7)"}, 7},
    {T, {Source("", R"(,"quality":"low")")}, {}, 0},
    {T, {R"({"type":"set_source","quality":"High"})"}, {}, 100},
    {T, {Quality(R"(,"quality":"low")")}, {"SetQuality(0)"}, 0},
    {T, {Quality(R"(,"quality":"0")")}, {"SetQuality(0)"}, 0},
    {T, {Quality(R"(,"quality":"High")")}, {"SetQuality(100)"}, 100},
    {T, {Quality("")}, {"SetQuality(100)"}, 100},
    {T, {Quality(R"(,"quality":"low")"), Source("B")}, {"SetQuality(0)", "Stop", "Start(B,0)"}, 0},
    {T, {Source("", R"(,"quality":"low")"), Source("B")}, {"Stop", "Start(B,0)"}, 0},
    // Parlex: words only; the remembered quality never changes.
    {P, {Source("A")}, {"Stop", "Start(A,7)"}, 7},
    {P, {Source("A", R"(,"quality":"low")")}, {"Stop", "Start(A,1)"}, 7},
    {P, {Source("A", R"(,"quality":"Medium")")}, {"Stop", "Start(A,50)"}, 7},
    {P, {Source("A", R"(,"quality":"high")")}, {"Stop", "Start(A,100)"}, 7},
    {P, {Source("A", R"(,"quality":"0")")}, {"Stop", "Start(A,7)"}, 7},
    {P, {Source("A", R"(,"quality":0)")}, {"Stop", "Start(A,7)"}, 7},
    {P, {Source("A", R"(,"quality":50)")}, {"Stop", "Start(A,7)"}, 7},
    {P, {Source("A", R"(,"quality":"Low ")")}, {"Stop", "Start(A,7)"}, 7},
    {P, {Source("", R"(,"quality":"low")")}, {}, 7},
    {P, {Quality(R"(,"quality":"Low")")}, {"SetQuality(1)"}, 7},
    {P, {Quality(R"(,"quality":"medium")")}, {"SetQuality(50)"}, 7},
    {P, {Quality(R"(,"quality":"0")")}, {"SetQuality(100)"}, 7},
    {P, {Quality(R"(,"quality":50)")}, {"SetQuality(100)"}, 7},
    {P, {Quality("")}, {"SetQuality(100)"}, 7},
    {P,
     {Quality(R"(,"quality":"High")"), Source("B")},
     {"SetQuality(100)", "Stop", "Start(B,7)"},
     7},
    // Grelm: no quality at all.
    {G, {Source("A", R"(,"quality":"low")")}, {"Stop", "Start(A)"}, 7},
    {G, {Source("")}, {}, 7},
    {G, {Quality(R"(,"quality":"low")")}, {}, 7},
    {G, {R"({"type":"quality","quality":"low"})"}, {}, 7},
    // Every host lists its sources, whatever else the line carries.
    {T, {R"({"type":"list_sources"})"}, {"List"}, 7},
    {P, {R"({"type":"list_sources","name":"A","quality":"low"})"}, {"List"}, 7},
    {G, {R"({"type":"list_sources"})", R"({"type":"List_sources"})"}, {"List"}, 7},
    // Every host lets the controller keep its window's size, and gives it back; any other
    // mode changes nothing.
    {T, {R"({"type":"window_size","mode":"keep"})"}, {"Keep"}, 7},
    {P,
     {R"({"type":"window_size","mode":"keep"})", R"({"type":"window_size","mode":follow})"},
     {"Keep", "Follow"},
     7},
    {G, {R"({"type":"window_size","mode":"Keep"})", R"({"type":"window_size"})"}, {}, 7},
    // Every host: shutdown, and lines that are no command.
    {T, {R"({"type":"shutdown"})"}, {"Stop", "Quit"}, 7},
    {P, {R"({"type":"shutdown"})", R"({"type":"shutdown"})"}, {"Stop", "Quit", "Stop", "Quit"}, 7},
    {G, {R"({"type":"shutdown","extra":1})"}, {"Stop", "Quit"}, 7},
    {T, {R"({"type":"Shutdown"})", R"({"type":"SET_SOURCE","name":"A"})"}, {}, 7},
    {P, {R"({"name":"A"})", R"({"type":""})", "not json", "[1,2]"}, {}, 7},
    // Field order, extra fields and spaces do not matter.
    {T,
     {R"({ "quality" : "low" , "extra":"x", "name" : "A", "type" : "set_source" })"},
     {"Stop", "Start(A,0)"},
     0},
    {G, {R"({"type":"set_source","name":"say \"hi\"\\"})"}, {"Stop", R"(Start(say "hi"\))"}, 7},
};

const char* KindName(HostKind kind) {
    return TraitsOf(kind).name;
}

TEST(CommandHandler, CommandTablesOfTheThreeHosts) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(KindName(row.kind)) + ": " + row.lines.front());
        RecordingReceiver receiver(row.kind);
        int remembered = 7;
        for (const std::string& line : row.lines) {
            HandleCommand(row.kind, ParseJson(line), remembered, receiver);
        }
        EXPECT_EQ(receiver.calls, row.calls);
        EXPECT_EQ(remembered, row.rememberedAfter);
    }
}

// Feeds `stream` cut into pieces of `pieceSize` bytes (0: one piece) to a splitter with
// `bound`; counts the lines dropped and the most it ever kept.
std::vector<std::string> Lines(const std::string& stream, size_t pieceSize, size_t bound,
                               std::string& rest, int& dropped, size_t& mostKept) {
    LineSplitter splitter(bound);
    std::vector<std::string> lines;
    auto collect = [&lines](const std::string& line) { lines.push_back(line); };
    size_t step = pieceSize == 0 ? stream.size() : pieceSize;
    dropped = 0;
    mostKept = 0;
    for (size_t at = 0; at < stream.size(); at += step) {
        splitter.Append(stream.data() + at, std::min(step, stream.size() - at), collect,
                        [&dropped](size_t) { ++dropped; });
        mostKept = std::max(mostKept, splitter.pending().size());
    }
    rest = splitter.pending();
    return lines;
}

TEST(LineSplitter, PiecesGiveTheSameLinesAsOnePiece) {
    struct Case {
        std::string stream;
        std::vector<std::string> lines;
        std::string rest;
        size_t bound = LineSplitter::kUnbounded;
        int dropped = 0;
    };
    const std::string longLine(10000, 'x');
    // Read in small pieces, a line this long took quadratic time before only new bytes
    // were searched for the LF (a 16 MiB line: seconds of a busy reader thread).
    const std::string hugeLine(1 << 20, 'y');
    const Case cases[] = {
        {"a\nb\n", {"a", "b"}, ""},
        {"a\r\nb\r\n", {"a", "b"}, ""},
        {"\n\r\n\n\r\r\n", {"\r"}, ""},  // only one CR before the LF is dropped
        {"a\rb\n", {"a\rb"}, ""},
        {"a\n\nb", {"a"}, "b"},
        {"tail\r", {}, "tail\r"},
        {longLine + "\n" + longLine, {longLine}, longLine},
        {std::string("a\0b\n", 4), {std::string("a\0b", 3)}, ""},
        {hugeLine + "\r\nz\n", {hugeLine, "z"}, ""},
        // A bound: a line past it is dropped whole, once, and never kept past it.
        {"12345678\n", {"12345678"}, "", 8},
        {"12345678\r\nok\n", {"12345678", "ok"}, "", 8},  // the CR is not the line's
        {"123456789\nok\n", {"ok"}, "", 8, 1},
        {"123456789\r\nok\n", {"ok"}, "", 8, 1},
        {longLine + "\n\nok\n" + longLine + "\r\n", {"ok"}, "", 8, 2},
        {"ok\n" + longLine, {"ok"}, "", 8, 1},
        {"1234567\r", {}, "1234567\r", 8},
        {hugeLine + "\nz\n", {"z"}, "", 65536, 1},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{0}, size_t{1}, size_t{3}, size_t{4095}}) {
            SCOPED_TRACE("piece " + std::to_string(piece) + ": " + c.stream.substr(0, 20));
            std::string rest;
            int dropped = 0;
            size_t mostKept = 0;
            EXPECT_EQ(Lines(c.stream, piece, c.bound, rest, dropped, mostKept), c.lines);
            EXPECT_EQ(rest, c.rest);
            EXPECT_EQ(dropped, c.dropped);
            if (c.bound != LineSplitter::kUnbounded && piece == 1) {
                EXPECT_LE(mostKept, c.bound + 1) << "kept past the bound";
            }
        }
    }
}

}  // namespace
