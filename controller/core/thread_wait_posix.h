// What Windows does with sent messages, played natively: a thread hands another a task
// and waits until that thread has run it inside one of its waits (thread_wait.h), taking
// the tasks handed to itself meanwhile, as SendMessage does. The native tests use it for a
// user-interface thread that the callback hands events to. Only in the native build.
#pragma once

#include <functional>
#include <memory>

struct ThreadInbox;

// The calling thread's inbox, for other threads to hand it tasks.
std::shared_ptr<ThreadInbox> ThisThreadInbox();

// Runs `task` on the inbox's thread inside its next wait that takes sent messages, and
// waits until it has run, running the tasks handed to this thread meanwhile. While the
// task runs, HandlingBlockedSender() is true on that thread. Returns at once, without the
// task, when that thread has ended.
void SendAndWait(const std::shared_ptr<ThreadInbox>& inbox, const std::function<void()>& task);
