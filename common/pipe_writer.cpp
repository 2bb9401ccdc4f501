#include "pipe_writer.h"

#include <utility>

#include "log.h"

PipeWriter::PipeWriter()
    : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      drained_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    failed_ = true;  // until Start: nothing is kept for a pipe that never opened
}

bool PipeWriter::Start(HANDLE pipe) {
    if (thread_ || !wake_ || !drained_ || !stop_ || !writeEvent_) {
        return false;
    }
    pipe_ = pipe;
    overlapped_ = {};
    overlapped_.hEvent = writeEvent_.Get();
    {
        ScopedLock lock(lock_);
        failed_ = false;
    }
    thread_.Reset(CreateThread(nullptr, 0, &PipeWriter::Main, this, 0, nullptr));
    if (!thread_) {
        ScopedLock lock(lock_);
        failed_ = true;
        outbox_.Clear();
        return false;
    }
    return true;
}

void PipeWriter::Post(MessageKind kind, std::string line) {
    line.push_back('\n');
    ScopedLock lock(lock_);
    if (failed_) {
        return;
    }
    outbox_.Push(kind, std::move(line));
    ResetEvent(drained_.Get());
    SetEvent(wake_.Get());
}

bool PipeWriter::Stop(DWORD drainMs) {
    if (!thread_) {
        return !stuck_;
    }
    if (drainMs > 0) {
        WaitForSingleObject(drained_.Get(), drainMs);
    }
    SetEvent(stop_.Get());
    if (WaitForSingleObject(thread_.Get(), kJoinMs) != WAIT_OBJECT_0) {
        stuck_ = true;  // it keeps the pipe, the events and the record
    }
    thread_.Reset();
    ScopedLock lock(lock_);
    failed_ = true;
    outbox_.Clear();
    return !stuck_;
}

DWORD WINAPI PipeWriter::Main(LPVOID self) {
    static_cast<PipeWriter*>(self)->Run();
    return 0;
}

void PipeWriter::Run() {
    while (TakeLine() && WriteLine()) {
    }
}

bool PipeWriter::TakeLine() {
    for (;;) {
        {
            ScopedLock lock(lock_);
            if (outbox_.Take(kind_, line_)) {
                sent_ = 0;
                return true;
            }
            SetEvent(drained_.Get());
        }
        HANDLE waits[] = {stop_.Get(), wake_.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return false;
        }
    }
}

bool PipeWriter::WriteLine() {
    while (sent_ < line_.size()) {
        if (!WriteRest()) {
            return false;
        }
        if (sent_ == 0 && !line_.empty()) {
            // The pipe took none of it: newer messages of its kind may now replace it.
            ScopedLock lock(lock_);
            outbox_.PutBack(kind_, std::move(line_));
            line_.clear();
        }
    }
    return true;
}

bool PipeWriter::WriteRest() {
    ResetEvent(writeEvent_.Get());
    DWORD count = 0;
    const DWORD size = static_cast<DWORD>(line_.size() - sent_);
    if (!WriteFile(pipe_, line_.data() + sent_, size, &count, &overlapped_)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            Fail(error);
            return true;
        }
        HANDLE waits[] = {writeEvent_.Get(), stop_.Get()};
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, writeBoundMs_);
        if (woke != WAIT_OBJECT_0) {
            // Cancelled, the write reports what the pipe took before the cancel landed.
            CancelIoEx(pipe_, &overlapped_);
            GetOverlappedResult(pipe_, &overlapped_, &count, TRUE);
            sent_ += count;
            if (woke == WAIT_OBJECT_0 + 1) {
                return false;
            }
            HostLog("[Pipe] WARNING: WriteFile timed out after %lu ms; %lu of %lu bytes taken",
                    static_cast<unsigned long>(writeBoundMs_), static_cast<unsigned long>(count),
                    static_cast<unsigned long>(size));
            SetStalled(sent_ < line_.size());
            return true;
        }
    }
    if (!GetOverlappedResult(pipe_, &overlapped_, &count, FALSE)) {
        Fail(GetLastError());
        return true;
    }
    sent_ += count;
    SetStalled(false);
    return true;
}

void PipeWriter::Fail(DWORD error) {
    HostLog("[Pipe] ERROR: WriteFile failed, error=%lu; nothing more is written",
            static_cast<unsigned long>(error));
    line_.clear();
    sent_ = 0;
    ScopedLock lock(lock_);
    failed_ = true;
    outbox_.Clear();
    SetEvent(drained_.Get());
}

void PipeWriter::SetStalled(bool stalled) {
    ScopedLock lock(lock_);
    outbox_.SetStalled(stalled);
}
