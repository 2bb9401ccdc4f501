// The controlling side of a host's pipe for tests and benchmarks: one overlapped
// byte-mode duplex pipe instance, so that every wait is bounded. Used by one test thread
// at a time.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "line_splitter.h"
#include "win_types.h"

class TestPipeServer {
public:
    TestPipeServer() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TestPipeServer() { Close(); }
    TestPipeServer(const TestPipeServer&) = delete;
    TestPipeServer& operator=(const TestPipeServer&) = delete;

    const std::string& name() const { return name_; }
    HANDLE handle() const { return pipe_; }

    // Creates the instance under a unique name and starts listening, so that a client can
    // open it at once.
    bool Create(DWORD outBuffer = 65536, DWORD inBuffer = 65536) {
        static std::atomic<int> counter{0};
        char name[80];
        std::snprintf(name, sizeof name, "pipe-test-%lu-%d", GetCurrentProcessId(),
                      counter.fetch_add(1));
        return CreateNamed(name, outBuffer, inBuffer);
    }

    bool CreateNamed(const std::string& name, DWORD outBuffer = 65536, DWORD inBuffer = 65536) {
        Close();
        name_ = name;
        std::string path = "\\\\.\\pipe\\" + name_;
        pipe_ = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, outBuffer,
                                 inBuffer, 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        connect_ = {};
        connect_.hEvent = event_.Get();
        return ConnectNamedPipe(pipe_, &connect_) || GetLastError() == ERROR_IO_PENDING ||
               GetLastError() == ERROR_PIPE_CONNECTED;
    }

    // True once a client connected; false after `timeoutMs` or, given the client's
    // `process`, once that ended first.
    bool AwaitClient(DWORD timeoutMs = 5000, HANDLE process = nullptr) {
        HANDLE waits[2] = {event_.Get(), process};
        if (WaitForMultipleObjects(process != nullptr ? 2 : 1, waits, FALSE, timeoutMs) !=
            WAIT_OBJECT_0) {
            CancelIoEx(pipe_, &connect_);
        }
        DWORD ignored = 0;
        return GetOverlappedResult(pipe_, &connect_, &ignored, TRUE) ||
               GetLastError() == ERROR_PIPE_CONNECTED;
    }

    bool Write(const std::string& bytes, DWORD timeoutMs = 5000) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event_.Get();
        DWORD written = 0;
        if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            if (WaitForSingleObject(event_.Get(), timeoutMs) != WAIT_OBJECT_0) {
                CancelIoEx(pipe_, &overlapped);
            }
            if (!GetOverlappedResult(pipe_, &overlapped, &written, TRUE)) {
                return false;
            }
        }
        return written == bytes.size();
    }

    // One read of whatever is there, waiting at most timeoutMs; empty on timeout.
    std::string ReadSome(DWORD timeoutMs) {
        char buffer[8192];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event_.Get();
        DWORD count = 0;
        if (!ReadFile(pipe_, buffer, sizeof buffer, &count, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return {};
            }
            if (WaitForSingleObject(event_.Get(), timeoutMs) != WAIT_OBJECT_0) {
                CancelIoEx(pipe_, &overlapped);
            }
            if (!GetOverlappedResult(pipe_, &overlapped, &count, TRUE)) {
                return {};
            }
        }
        return std::string(buffer, count);
    }

    // True once the client's end is closed (a read finds the pipe broken) within timeoutMs.
    // Bytes the client still sends meanwhile are kept for ReadLine.
    bool ClientGone(DWORD timeoutMs) {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        for (;;) {
            char buffer[4096];
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event_.Get();
            DWORD count = 0;
            BOOL done = ReadFile(pipe_, buffer, sizeof buffer, &count, &overlapped);
            if (!done && GetLastError() == ERROR_IO_PENDING) {
                const ULONGLONG now = GetTickCount64();
                if (WaitForSingleObject(event_.Get(), now < end ? static_cast<DWORD>(end - now)
                                                                : 0) != WAIT_OBJECT_0) {
                    CancelIoEx(pipe_, &overlapped);
                }
                done = GetOverlappedResult(pipe_, &overlapped, &count, TRUE);
            }
            if (!done) {
                const DWORD error = GetLastError();
                return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
            }
            lines_.Append(buffer, count, [&](const std::string& l) { ready_.push_back(l); });
            if (GetTickCount64() >= end) {
                return false;
            }
        }
    }

    // The next complete line from the client, without its LF.
    bool ReadLine(std::string& line, DWORD timeoutMs = 5000) {
        ULONGLONG end = GetTickCount64() + timeoutMs;
        while (ready_.empty() && GetTickCount64() < end) {
            std::string bytes = ReadSome(static_cast<DWORD>(end - GetTickCount64()));
            lines_.Append(bytes.data(), bytes.size(),
                          [&](const std::string& l) { ready_.push_back(l); });
        }
        if (ready_.empty()) {
            return false;
        }
        line = ready_.front();
        ready_.erase(ready_.begin());
        return true;
    }

    // Reads lines until one contains `text`; every line read is kept in `seen`.
    bool ReadUntil(const std::string& text, std::vector<std::string>& seen,
                   DWORD timeoutMs = 5000) {
        std::string line;
        while (ReadLine(line, timeoutMs)) {
            seen.push_back(line);
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // The complete lines that arrive within `ms`.
    std::vector<std::string> DrainLinesFor(DWORD ms) {
        std::vector<std::string> out;
        ULONGLONG end = GetTickCount64() + ms;
        while (GetTickCount64() < end) {
            std::string bytes = ReadSome(50);
            lines_.Append(bytes.data(), bytes.size(),
                          [&](const std::string& l) { out.push_back(l); });
        }
        return out;
    }

    // Reads until nothing has arrived for `quietMs`: the complete lines read on the way.
    // With no write in flight on the other side, the pipe is then empty.
    std::vector<std::string> DrainLines(DWORD quietMs = 200) {
        std::vector<std::string> out;
        for (std::string bytes = ReadSome(quietMs); !bytes.empty(); bytes = ReadSome(quietMs)) {
            lines_.Append(bytes.data(), bytes.size(),
                          [&](const std::string& l) { out.push_back(l); });
        }
        return out;
    }

    void Close() {
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CloseHandle(pipe_);
            pipe_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    std::string name_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    UniqueHandle event_;
    OVERLAPPED connect_ = {};
    LineSplitter lines_;
    std::vector<std::string> ready_;
};
