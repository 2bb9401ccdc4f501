// A thread that may outlast the wait for it: the pipe writer, the source listing's two
// threads, the pipe reader and the start-up report's write each run on one. The thread is
// detached and holds what its body uses (the keep-alive) until the body has returned, so
// an owner that stops waiting, or goes, never frees anything under it. It lets go of the
// body and the keep-alive before it counts as ended: once Join has seen it end, the owner
// is the last to hold them.
//
// Join waits in full once: after the thread has outlasted one wait, a later Join only
// looks whether it has ended, so nobody waits twice for the same thread.
//
// Threads: Start and Join are the owner's (one thread at a time, or under the owner's
// lock); the thread itself touches only a small state of its own. Win32-free.
#pragma once

#include <functional>
#include <memory>

class BoundedThread {
public:
    BoundedThread() = default;
    BoundedThread(const BoundedThread&) = delete;
    BoundedThread& operator=(const BoundedThread&) = delete;

    // Runs body() on a thread of its own that holds keepAlive until body has returned.
    // False when no thread could be made, or one was started that no Join has seen end.
    bool Start(std::shared_ptr<void> keepAlive, std::function<void()> body);
    // Waits at most waitMs (0 once the thread has outlasted a wait) for it to end. True
    // when it has ended or none was started; the thread is then forgotten.
    bool Join(unsigned waitMs);
    // A thread was started that no Join has seen end.
    bool Started() const { return end_ != nullptr; }

private:
    struct End;  // shared with the thread: whether it has ended
    std::shared_ptr<End> end_;
    bool outlasted_ = false;
};
