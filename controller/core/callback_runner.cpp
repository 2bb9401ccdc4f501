#include "callback_runner.h"

#include <chrono>
#include <utility>

#include "schedule_point.h"
#include "thread_identity.h"

struct CallbackRunner::Probe {
    uint64_t callback = 0;  // the callback it asks about
    bool taken = false;     // under lock_: the callback thread took it inside that callback
    Signal answered;
};

CallbackRunner::CallbackRunner(EventQueue& queue, Deliver deliver)
    : queue_(queue), deliver_(std::move(deliver)) {
    idle_.Set();
}

void CallbackRunner::Run() {
    {
        NoteReceiver notes(&OnNote, this);
        {
            std::lock_guard<std::mutex> lock(lock_);
            thread_ = ThisThread()->number;
            notes_ = notes.Valid() ? &notes : nullptr;
        }
        HostEvent event;
        while (queue_.Pop(event, kWaitForever)) {
            {
                std::lock_guard<std::mutex> lock(lock_);
                if (stopped_) {
                    break;
                }
                inCallback_ = true;
                ++callback_;
                idle_.Reset();
                busy_.Set();
            }
            schedule::Point("callback: begins");
            deliver_(event);
            schedule::Point("callback: returned");
            std::lock_guard<std::mutex> lock(lock_);
            inCallback_ = false;
            busy_.Reset();
            idle_.Set();
        }
        std::lock_guard<std::mutex> lock(lock_);
        notes_ = nullptr;
    }
    std::lock_guard<std::mutex> lock(lock_);
    finished_ = true;
    ended_.Set();
}

void CallbackRunner::Stop() {
    std::lock_guard<std::mutex> lock(lock_);
    stopped_ = true;
}

CallbackRunner::Awaited CallbackRunner::AwaitEnd(unsigned timeoutMs) {
    return Watch(true, timeoutMs);
}

bool CallbackRunner::InsideCallback() {
    return Watch(false, kWaitForever) == Awaited::MustNot;
}

// On the callback thread, inside a wait of the application's callback that takes sent
// messages: a note taken there shows the callback blocked in that wait.
void CallbackRunner::OnNote(void* context, uint64_t note) {
    auto* self = static_cast<CallbackRunner*>(context);
    std::lock_guard<std::mutex> lock(self->lock_);
    auto probe = self->probes_.find(note);
    if (probe != self->probes_.end() && self->inCallback_ &&
        probe->second->callback == self->callback_) {
        probe->second->taken = true;
        probe->second->answered.Set();
    }
}

// untilEnd: until Run has returned (Ended); else only until it is known that waiting
// cannot mean waiting for this thread (Ended too). MustNot as soon as it could.
CallbackRunner::Awaited CallbackRunner::Watch(bool untilEnd, unsigned timeoutMs) {
    const uint64_t self = ThisThread()->number;
    // Does not change during the watch: messages taken in its waits have returned by then.
    const bool handling = HandlingBlockedSender();
    const auto start = std::chrono::steady_clock::now();
    Probe probe;
    uint64_t probeNumber = 0;  // registered in probes_ while not 0
    uint64_t firstCallback = 0;
    bool first = true;
    Awaited result = Awaited::TimedOut;
    for (;;) {
        const Signal* waits[3] = {&ended_, nullptr, nullptr};
        size_t count = 1;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (first) {
                firstCallback = inCallback_ ? callback_ : 0;
                first = false;
            }
            const bool current = inCallback_ && probe.callback == callback_;
            if (probeNumber != 0 && (probe.taken || !current)) {
                probes_.erase(probeNumber);
                probeNumber = 0;
            }
            if (finished_) {
                result = Awaited::Ended;
                break;
            }
            if (self == thread_) {
                result = Awaited::MustNot;
                break;
            }
            const bool suspect = handling && inCallback_;
            if (suspect && probe.taken && current) {
                if (!SentMessageWaiting()) {
                    result = Awaited::MustNot;  // blocked on the message this thread handles
                    break;
                }
                probe.taken = false;  // its message may be the one queued: take that first
            }
            if (!untilEnd && (!suspect || callback_ != firstCallback)) {
                result = Awaited::Ended;  // nothing of the callback's waits for this thread
                break;
            }
            if (suspect && probeNumber == 0) {
                if (notes_ == nullptr) {
                    result = Awaited::MustNot;  // no way to ask: assume the worst
                    break;
                }
                probeNumber = ++lastProbe_;
                probe.callback = callback_;
                probe.taken = false;
                probe.answered.Reset();
                probes_[probeNumber] = &probe;
                notes_->Send(probeNumber);
            }
            if (suspect) {
                waits[count++] = &idle_;
                waits[count++] = &probe.answered;
            } else if (handling) {
                waits[count++] = &busy_;
            }
        }
        unsigned left = kWaitForever;
        if (timeoutMs != kWaitForever) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
            left = spent >= timeoutMs ? 0u : timeoutMs - static_cast<unsigned>(spent);
        }
        schedule::Point("callback wait: waits");
        if (WaitAny(waits, count, left) < 0 && left == 0) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (probeNumber != 0) {
        probes_.erase(probeNumber);
    }
    return result;
}
