// The C interface over HostProcess: an opaque handle, results as numbers, events as a
// plain struct. No C++ exception leaves these functions. The callback adapter runs on the
// HostProcess's callback thread; everything else on the caller's thread.
#include "host_controller.h"

#include <mutex>
#include <new>
#include <string>

#include "host_process.h"

struct hc_host {
    HostProcess process;
    hc_event_callback callback = nullptr;
    void* user = nullptr;
    std::mutex errorLock;
    std::string lastError;  // under errorLock
    HostEvent polled;       // keeps hc_next_event's strings alive
};

namespace {

hc_result ToResult(HostError error) {
    switch (error) {
        case HostError::None:
            return HC_OK;
        case HostError::InvalidArgument:
            return HC_INVALID_ARGUMENT;
        case HostError::WrongState:
            return HC_WRONG_STATE;
        case HostError::PipeNameTaken:
            return HC_PIPE_NAME_TAKEN;
        case HostError::PipeFailed:
            return HC_PIPE_FAILED;
        case HostError::LaunchFailed:
            return HC_LAUNCH_FAILED;
        case HostError::ExitedBeforePipe:
            return HC_EXITED_BEFORE_PIPE;
        case HostError::ExitedBeforeReady:
            return HC_EXITED_BEFORE_READY;
        case HostError::PipeNeverOpened:
            return HC_PIPE_NEVER_OPENED;
        case HostError::ReadyTimedOut:
            return HC_READY_TIMED_OUT;
        case HostError::PipeClosed:
            return HC_PIPE_CLOSED;
        case HostError::WriteFailed:
            return HC_WRITE_FAILED;
        case HostError::WriteTimedOut:
            return HC_WRITE_TIMED_OUT;
    }
    return HC_WRONG_STATE;
}

hc_result Report(hc_host* host, hc_result result, const std::string& reason) {
    std::lock_guard<std::mutex> lock(host->errorLock);
    host->lastError = result == HC_OK ? std::string() : reason;
    return result;
}

hc_result Report(hc_host* host, const HostResult& result) {
    return Report(host, ToResult(result.error), result.reason);
}

// Runs body() and turns an escaping exception (only memory can run out) into a result.
template <typename Body>
hc_result Guarded(hc_host* host, Body&& body) noexcept {
    if (host == nullptr) {
        return HC_INVALID_ARGUMENT;
    }
    try {
        return body();
    } catch (...) {
        return HC_OUT_OF_MEMORY;
    }
}

hc_event ToC(const HostEvent& e) {
    hc_event c = {};
    c.type = static_cast<hc_event_type>(e.type);
    c.received_ms = e.receivedMs;
    c.line = e.line.c_str();
    c.state = e.state.c_str();
    c.source = e.source.c_str();
    c.fps = e.fps;
    c.width = e.width;
    c.height = e.height;
    c.window = static_cast<long long>(e.window);
    c.process_id = e.processId;
    c.exit_code = e.exitCode;
    return c;
}

static_assert(static_cast<int>(HostEventType::Exited) == HC_EVENT_EXITED &&
                  static_cast<int>(HostEventType::Unterminated) == HC_EVENT_UNTERMINATED &&
                  static_cast<int>(HostEventType::PipeOpened) == HC_EVENT_PIPE_OPENED,
              "the C event numbers follow HostEventType");

}  // namespace

extern "C" {

hc_result hc_create(hc_host** host) {
    if (host == nullptr) {
        return HC_INVALID_ARGUMENT;
    }
    *host = new (std::nothrow) hc_host;
    return *host ? HC_OK : HC_OUT_OF_MEMORY;
}

void hc_destroy(hc_host* host) {
    delete host;
}

hc_result hc_start(hc_host* host, const char* executable, const char* const* args, int arg_count,
                   hc_event_callback callback, void* user) {
    return Guarded(host, [&] {
        if (executable == nullptr || arg_count < 0 || (arg_count > 0 && args == nullptr)) {
            return Report(host, HC_INVALID_ARGUMENT, "no executable, or a bad argument list");
        }
        HostOptions options;
        options.executable = executable;
        for (int i = 0; i < arg_count; ++i) {
            if (args[i] == nullptr) {
                return Report(host, HC_INVALID_ARGUMENT, "a null host argument");
            }
            options.arguments.push_back(args[i]);
        }
        if (callback) {
            host->callback = callback;
            host->user = user;
            options.onEvent = [host](const HostEvent& event) {
                hc_event c = ToC(event);
                host->callback(host->user, &c);
            };
        }
        return Report(host, host->process.Start(std::move(options)));
    });
}

hc_result hc_wait_ready(hc_host* host, unsigned timeout_ms, long long* window,
                        unsigned long* process_id) {
    return Guarded(host, [&] {
        HostReady ready;
        HostResult result = host->process.WaitForReady(timeout_ms, &ready);
        if (result) {
            if (window) {
                *window = static_cast<long long>(reinterpret_cast<intptr_t>(ready.window));
            }
            if (process_id) {
                *process_id = ready.processId;
            }
        }
        return Report(host, result);
    });
}

hc_result hc_next_event(hc_host* host, unsigned timeout_ms, hc_event* event) {
    return Guarded(host, [&] {
        if (event == nullptr || host->callback) {
            return Report(host, HC_INVALID_ARGUMENT, "no event to fill, or a callback is in use");
        }
        if (!host->process.NextEvent(host->polled, timeout_ms)) {
            bool over = host->process.HasExited() && host->polled.type == HostEventType::Exited;
            return over ? Report(host, HC_NO_MORE_EVENTS, "the host has ended")
                        : Report(host, HC_TIMED_OUT, "no event in time");
        }
        *event = ToC(host->polled);
        return Report(host, HC_OK, "");
    });
}

hc_result hc_set_source(hc_host* host, const char* name, const char* quality) {
    return Guarded(host, [&] {
        if (name == nullptr) {
            return Report(host, HC_INVALID_ARGUMENT, "no source name");
        }
        return Report(
            host, quality ? host->process.SetSource(name, quality) : host->process.SetSource(name));
    });
}

hc_result hc_set_quality(hc_host* host, const char* quality) {
    return Guarded(host, [&] {
        if (quality == nullptr) {
            return Report(host, HC_INVALID_ARGUMENT, "no quality");
        }
        return Report(host, host->process.SetQuality(quality));
    });
}

hc_result hc_shutdown(hc_host* host) {
    return Guarded(host, [&] { return Report(host, host->process.Shutdown()); });
}

hc_result hc_end(hc_host* host, unsigned wait_ms, unsigned long* exit_code) {
    return Guarded(host, [&] {
        uint32_t code = 0;
        HostResult result = host->process.End(wait_ms, &code);
        if (result && exit_code) {
            *exit_code = code;
        }
        return Report(host, result);
    });
}

hc_result hc_exit_code(hc_host* host, unsigned long* exit_code) {
    return Guarded(host, [&] {
        uint32_t code = 0;
        if (!host->process.HasExited(&code)) {
            return Report(host, HC_WRONG_STATE, "the host has not ended");
        }
        if (exit_code) {
            *exit_code = code;
        }
        return Report(host, HC_OK, "");
    });
}

const char* hc_last_error(hc_host* host) {
    if (host == nullptr) {
        return "no handle";
    }
    std::lock_guard<std::mutex> lock(host->errorLock);
    return host->lastError.c_str();
}

}  // extern "C"
