// Cuts the pipe's byte stream into command lines. Win32-free; used on the reader thread.
//
// A line ends at LF; one CR right before the LF is dropped; empty lines are skipped. Bytes
// after the last LF wait for the next one. With a bound, a line longer than it is dropped
// whole, and no more than the bound (and a CR) is ever kept of it: its bytes are skipped up
// to its LF, and the line is reported once, as soon as it is known to be too long.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <string>

class LineSplitter {
public:
    static constexpr size_t kUnbounded = std::numeric_limits<size_t>::max() - 1;

    explicit LineSplitter(size_t maxLineBytes = kUnbounded) : maxLineBytes_(maxLineBytes) {}

    // Calls onLine(const std::string&) for every complete, non-empty line within the bound,
    // in order, and onDropped(size_t bytesSeen) once for every line past it.
    template <typename OnLine, typename OnDropped>
    void Append(const char* bytes, size_t count, OnLine&& onLine, OnDropped&& onDropped) {
        if (dropping_) {
            const void* lf = std::memchr(bytes, '\n', count);
            if (lf == nullptr) {
                return;
            }
            dropping_ = false;
            const size_t skipped = static_cast<size_t>(static_cast<const char*>(lf) - bytes) + 1;
            bytes += skipped;
            count -= skipped;
        }
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
            if (end - start > maxLineBytes_) {
                onDropped(end - start);
            } else if (end > start) {
                onLine(pending_.substr(start, end - start));
            }
            start = lf + 1;
        }
        pending_.erase(0, start);
        // One byte more than the bound may be the CR before the line's LF.
        if (pending_.size() > maxLineBytes_ + 1) {
            onDropped(pending_.size());
            pending_.clear();
            pending_.shrink_to_fit();
            dropping_ = true;
        }
    }
    template <typename OnLine>
    void Append(const char* bytes, size_t count, OnLine&& onLine) {
        Append(bytes, count, onLine, [](size_t) {});
    }

    const std::string& pending() const { return pending_; }
    void Clear() {
        pending_.clear();
        dropping_ = false;
    }

private:
    std::string pending_;
    size_t maxLineBytes_;
    bool dropping_ = false;  // the line under way is past the bound: skipped up to its LF
};
