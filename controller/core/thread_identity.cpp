#include "thread_identity.h"

#include <atomic>

const std::shared_ptr<const ThreadMark>& ThisThread() {
    static std::atomic<uint64_t> next{1};
    thread_local const std::shared_ptr<const ThreadMark> mark =
        std::make_shared<const ThreadMark>(ThreadMark{next.fetch_add(1)});
    return mark;
}
