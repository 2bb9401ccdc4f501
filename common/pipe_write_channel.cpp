#include "pipe_write_channel.h"

#include <utility>

#include "log.h"

namespace {

void LogWriteError(DWORD error) {
    HostLog("[Pipe] ERROR: WriteFile failed, error=%lu", static_cast<unsigned long>(error));
}

}  // namespace

PipeWriteChannel::PipeWriteChannel(std::shared_ptr<UniqueHandle> pipe)
    : pipe_(std::move(pipe)),
      writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool PipeWriteChannel::Begin(const char* data, size_t size) {
    overlapped_ = {};
    overlapped_.hEvent = writeEvent_.Get();
    ResetEvent(writeEvent_.Get());
    DWORD count = 0;
    // A write that ends at once sets the event too; Await then reaps it.
    if (!WriteFile(Pipe(), data, static_cast<DWORD>(size), &count, &overlapped_) &&
        GetLastError() != ERROR_IO_PENDING) {
        LogWriteError(GetLastError());
        return false;
    }
    return true;
}

WriteChannel::Outcome PipeWriteChannel::Await(unsigned boundMs, size_t& taken) {
    HANDLE waits[] = {writeEvent_.Get(), stop_.Get()};
    switch (WaitForMultipleObjects(2, waits, FALSE, boundMs)) {
        case WAIT_OBJECT_0: {
            DWORD count = 0;
            if (!GetOverlappedResult(Pipe(), &overlapped_, &count, FALSE)) {
                LogWriteError(GetLastError());
                return Outcome::Failed;
            }
            taken = count;
            return Outcome::Written;
        }
        case WAIT_OBJECT_0 + 1:
            return Outcome::Stopped;
        default:
            return Outcome::TimedOut;
    }
}

void PipeWriteChannel::Cancel(size_t& taken) {
    CancelIoEx(Pipe(), &overlapped_);
    DWORD count = 0;
    // Returns at once when the write already ended; otherwise when the cancel lands.
    GetOverlappedResult(Pipe(), &overlapped_, &count, TRUE);
    taken = count;
}

void PipeWriteChannel::Interrupt() {
    SetEvent(stop_.Get());
}
