// Which thread is calling, told apart from every other thread of the process: an
// operating system's thread id goes to a new thread once its old thread has ended, this
// mark never does. Win32-free; any thread.
#pragma once

#include <cstdint>
#include <memory>

struct ThreadMark {
    uint64_t number;  // never given to another thread of the process
};

// The calling thread's mark. It lives as long as the thread: a weak_ptr to it expires
// once the thread has ended.
const std::shared_ptr<const ThreadMark>& ThisThread();
