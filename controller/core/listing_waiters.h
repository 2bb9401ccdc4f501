// The ListSources calls that wait for a source listing, and the reader handing each
// listing it closes to them: a call gets the first listing closed after it registered
// (a listing under way answers it, as the host merges requests), or learns that the
// reading ended first. It also counts the requests written, so that the reader can tell a
// listing that answers one (never dropped) from one nobody asked for (a host that floods
// them). Win32-free; any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "host_event.h"
#include "thread_wait.h"

class ListingWaiters {
public:
    // One ListSources call: registered before its request is written, so that a host that
    // answers at once is not missed.
    class Waiter {
    public:
        explicit Waiter(ListingWaiters& all);
        ~Waiter();
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

        enum class Outcome { Answered, ReadingEnded, TimedOut };
        // Waits at most timeoutMs (kWaitForever: no limit), taking sent messages, for its
        // listing or for `readingEnded`; the listing wins when both have come.
        Outcome Await(const Signal& readingEnded, unsigned timeoutMs);

        // Once Answered: the listing's names and error.
        std::vector<std::string> names;
        std::string error;

    private:
        friend class ListingWaiters;
        void Leave();

        ListingWaiters& all_;
        Signal answered_;
        bool registered_ = true;  // under all_.lock_, as is the one below
        bool filled_ = false;
    };

    // A list_sources request is about to be written (ListSources's own, RequestSources);
    // Withdraw it when the write failed.
    void NoteRequest();
    void WithdrawRequest();
    // The reader: `listing` goes to every registered call that has no listing yet. True
    // when it answers a request: a call waited for it, or a request is still unanswered.
    bool Close(const HostEvent& listing);

private:
    std::mutex lock_;
    std::vector<Waiter*> waiting_;  // under lock_
    size_t requests_ = 0;           // under lock_: written and not yet answered
};
