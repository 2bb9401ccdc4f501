#include "listing_waiters.h"

#include <algorithm>

#include "schedule_point.h"

ListingWaiters::Waiter::Waiter(ListingWaiters& all) : all_(all) {
    std::lock_guard<std::mutex> lock(all_.lock_);
    all_.waiting_.push_back(this);
}

ListingWaiters::Waiter::~Waiter() {
    Leave();
}

void ListingWaiters::Waiter::Leave() {
    std::lock_guard<std::mutex> lock(all_.lock_);
    if (registered_) {
        registered_ = false;
        all_.waiting_.erase(std::find(all_.waiting_.begin(), all_.waiting_.end(), this));
    }
}

ListingWaiters::Waiter::Outcome ListingWaiters::Waiter::Await(const Signal& readingEnded,
                                                              unsigned timeoutMs) {
    const Signal* waits[2] = {&answered_, &readingEnded};
    WaitAny(waits, 2, timeoutMs);
    schedule::Point("listing: wait over");
    Leave();
    if (filled_) {
        return Outcome::Answered;
    }
    return readingEnded.IsSet() ? Outcome::ReadingEnded : Outcome::TimedOut;
}

void ListingWaiters::NoteRequest() {
    std::lock_guard<std::mutex> lock(lock_);
    ++requests_;
}

void ListingWaiters::WithdrawRequest() {
    std::lock_guard<std::mutex> lock(lock_);
    requests_ -= requests_ > 0;
}

bool ListingWaiters::Close(const HostEvent& listing) {
    std::lock_guard<std::mutex> lock(lock_);
    bool requested = requests_ > 0;
    requests_ -= requested;
    for (Waiter* waiter : waiting_) {
        if (!waiter->filled_) {
            requested = true;
            waiter->filled_ = true;
            waiter->names = listing.names;
            waiter->error = listing.error;
            schedule::Point("listing: handed over");
            waiter->answered_.Set();
        }
    }
    return requested;
}
