// The source listings among the lines a host writes: its `source` lines are kept until the
// `sources_done` that closes them, whatever other lines come between (stats, statuses), and
// the listing then becomes one Sources event. The host runs one listing at a time, so each
// `sources_done` closes exactly the `source` lines since the one before. Win32-free; the
// controller's reader thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host_event.h"

struct JsonObject;

class SourceGatherer {
public:
    // The most one listing keeps of its names, each counted with kNameBytes for what keeps
    // it (the names beyond are counted, not kept): a host that lists without end, nameless
    // sources too, cannot fill the application's memory. 10,000 names of 256 bytes take
    // 2.8 MiB.
    static constexpr size_t kMaxListingBytes = 16 * 1024 * 1024;
    static constexpr size_t kNameBytes = sizeof(std::string);

    explicit SourceGatherer(size_t maxListingBytes = kMaxListingBytes);

    enum class Taken {
        NotListing,  // any other line: decode it as usual
        Kept,        // a `source` line, kept for its listing
        Closed,      // `sources_done`: the listing is in `listing`, and a new one begins
    };

    // `listing` is filled only when the result is Closed: a Sources event with the names,
    // and an error when the host gave one, when fewer names arrived than it counted, or
    // when more came than are kept. A name that holds a NUL byte is left out (it counts as
    // arrived): no C string can carry it, and no set_source could name it.
    Taken Take(const std::string& line, HostEvent& listing);
    // The same for a line already parsed into `message`.
    Taken Take(const std::string& line, const JsonObject& message, HostEvent& listing);
    // Forgets a listing under way (the host ended before closing it).
    void Clear();

private:
    size_t maxListingBytes_;
    std::vector<std::string> names_;
    size_t keptBytes_ = 0;
    size_t received_ = 0;  // `source` lines since the last `sources_done`, kept or not
};
