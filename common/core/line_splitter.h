// Cuts the pipe's byte stream into command lines. Win32-free; used on the reader thread.
//
// A line ends at LF; one CR right before the LF is dropped; empty lines are skipped.
// Bytes after the last LF wait for the next one and have no upper bound.
#pragma once

#include <cstddef>
#include <string>

class LineSplitter {
public:
    // Calls onLine(const std::string&) for every complete, non-empty line, in order.
    template <typename OnLine>
    void Append(const char* bytes, size_t count, OnLine&& onLine) {
        // What was kept from earlier calls holds no LF, so only the new bytes are searched:
        // a long line arriving in small reads costs linear time, not quadratic.
        size_t start = 0;
        size_t searchFrom = pending_.size();
        pending_.append(bytes, count);
        for (size_t lf = pending_.find('\n', searchFrom); lf != std::string::npos;
             lf = pending_.find('\n', start)) {
            size_t end = lf;
            if (end > start && pending_[end - 1] == '\r') {
                --end;
            }
            if (end > start) {
                onLine(pending_.substr(start, end - start));
            }
            start = lf + 1;
        }
        pending_.erase(0, start);
    }

    const std::string& pending() const { return pending_; }
    void Clear() { pending_.clear(); }

private:
    std::string pending_;
};
