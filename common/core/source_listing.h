// The host's answer to "list_sources". The finder's call runs on a thread of its own (the
// finder thread) while another (the answer thread) waits for it with a bound and sends the
// lines, so that neither the pipe reader nor the receiver's worker ever waits for a
// library's discovery. A call that outlasts the bound is answered with an error at once;
// it keeps the finder thread, and later listings are answered "Source listing busy" until
// it returns. A request that comes while a listing is under way is answered by that one.
//
// What waits for a controller that does not read stays bounded: a request that comes while
// lines of an earlier listing still wait in the outbox is answered by that listing, whose
// end the controller reads after its request, so no second listing piles up behind it.
//
// Threads: Request from the pipe reader; Stop and destruction from the teardown; the two
// threads of its own. One lock guards the request state and the call's result; no line is
// sent and no finder call made under it. Win32-free.
//
// A finder thread that outlasts Stop's wait may still be inside the library: the finder,
// and everything the two threads share, then stays with those threads until they end.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "source_finder.h"

class SourceListing {
public:
    using SendLine = std::function<void(const std::string& json)>;
    // Whether lines sent earlier still wait in the outbox (any thread; never blocks).
    using LinesWaiting = std::function<bool()>;
    // Longest a finder call may take before its listing is answered with an error.
    static constexpr unsigned kCallBoundMs = 2500;
    // Longest Stop waits for the two threads together.
    static constexpr unsigned kStopBoundMs = 4000;

    // A null finder answers every listing with "Source listing not supported"; an empty
    // `waiting` counts every line as written.
    SourceListing(std::unique_ptr<SourceFinder> finder, SendLine send, LinesWaiting waiting,
                  unsigned callBoundMs = kCallBoundMs);
    ~SourceListing();
    SourceListing(const SourceListing&) = delete;
    SourceListing& operator=(const SourceListing&) = delete;

    // Starts a listing unless one is under way; returns at once. Nothing after Stop.
    void Request();
    // Ends both threads; a listing in progress sends nothing more. False when one of them
    // still runs after its wait: nothing they use may be released then.
    bool Stop();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
