// What a host tells its controller, as typed events: one per line the host wrote, plus
// the moments the pipe opened, the host's last unfinished line, a protocol fault for
// which the controller ended the host, the host's end, and each source listing whole (its
// `source` lines gathered up to the `sources_done` that closes them, see
// source_gatherer.h). Win32-free; made on the controller's reader thread and read by
// whichever thread takes the event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct JsonObject;

// A timeout that means no limit, wherever the controller takes one.
constexpr unsigned kWaitForever = 0xFFFFFFFFu;

// New types are only ever appended: the C interface numbers them in this order.
enum class HostEventType {
    PipeOpened,    // the host opened the pipe (no line)
    Ready,         // host_ready: window and processId are set
    Status,        // status: state and source are set
    Stats,         // stats: fps, width and height are set
    Other,         // a line of any other type, kept only in `line`
    Unterminated,  // bytes after the host's last LF when the pipe ended
    Exited,        // the host process ended: exitCode is set; always the last event
    Fault,         // the host broke the protocol and the controller ended it: `line` says how
    Sources,       // a source listing, closed by sources_done (its `line`): names and error
    FrameSize,     // frame_size: width and height of the frames shown now, sent by a host
                   // while a view keeps its window's size (see host_view.h)
};

struct HostEvent {
    HostEventType type = HostEventType::Other;
    std::string line;         // the line as the host wrote it, without its LF
    double receivedMs = 0.0;  // milliseconds since the controller started the host

    std::string state;       // Status
    std::string source;      // Status: the source name, an error text or ""
    double fps = 0.0;        // Stats
    int width = 0;           // Stats, FrameSize
    int height = 0;          // Stats, FrameSize
    int64_t window = 0;      // Ready: the window handle as a number
    uint32_t processId = 0;  // Ready
    uint32_t exitCode = 0;   // Exited

    std::vector<std::string> names;  // Sources: the names listed, in the host's order
    std::string error;  // Sources: why there is no list, or no whole one; "" when there is
};

// Turns one line from the host into a Ready, Status, Stats, FrameSize or Other event. Numbers are
// read without regard to the process's locale; a field that is missing or malformed
// reads as 0 or "".
HostEvent DecodeHostLine(const std::string& line);
// The same for a line already parsed into `message`.
HostEvent DecodeHostLine(const std::string& line, const JsonObject& message);

// A JSON number as a double, whatever locale the application has set ("29.97" is 29.97
// under a locale that writes 29,97 too); 0 for anything that is not a whole number.
double ReadJsonNumber(const std::string& text);
