// What a host's source discovery is to the rest of the host: one blocking call that says
// which sources can be received right now, or why it cannot say. Each host supplies its
// own finder (the NDI runtime's finder, libomt's discovery, the Spout sender list); the
// listing (source_listing.h) calls it on a thread of its own. Win32-free.
#pragma once

#include <string>
#include <vector>

struct FoundSources {
    std::vector<std::string> names;  // each exactly what "set_source" takes
    std::string error;               // why there is no list; empty when the call worked
};

class SourceFinder {
public:
    virtual ~SourceFinder() = default;
    // Blocks for at most about a second when the library behaves. Called on one thread
    // at a time, never concurrently with itself; the finder is destroyed on another.
    virtual FoundSources Find() = 0;
};
