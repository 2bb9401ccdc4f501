// The C interface over HostProcess: an opaque handle, results as numbers, events and
// options as sized structs. No C++ exception leaves these functions. The callback
// adapter runs on the HostProcess's callback thread; everything else on the caller's.
//
// A handle counts the calls in progress on it, so that hc_destroy can wait for them or,
// where it must not wait (inside the callback, or inside a message that another call's
// wait dispatched), leave the freeing to the last of them. It keeps each calling thread's
// error and polled event apart, so that one thread's call never changes what another
// thread was given.
#include "host_controller.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "handle_lifetime.h"
#include "host_process.h"
#include "host_view.h"
#include "win_types.h"

struct hc_host : HandleLifetime {
    HostProcess process;
    HostView view{process};      // ends before the process
    unsigned endWaitMs = 10000;  // set by a successful start
    std::atomic<bool> withCallback{false};
    // Why the host could not start, once it has ended; set once under startupLock, then
    // kept, so that the text stays where hc_get_startup_failure pointed.
    std::mutex startupLock;
    bool startupKnown = false;
    StartupProblem startup;

private:
    bool MustNotWait() override { return process.InsideCallback(); }
    void EndHost() override {
        process.End(endWaitMs);
        process.StopCallbacks();
    }
};

namespace {

using Call = HandleLifetime::Call;

// A call during which hc_destroy began (from a message that the call's own wait
// dispatched, say) returns no pointer into the handle, which may go as the call returns.
const char* const kBeingDestroyed = "the handle is being destroyed";

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
        case HostError::HostFaulty:
            return HC_HOST_FAULTY;
        case HostError::ListingFailed:
            return HC_LIST_FAILED;
        case HostError::ListingTimedOut:
            return HC_LIST_TIMED_OUT;
    }
    return HC_WRONG_STATE;
}

hc_result Report(ThreadRecord& record, hc_result result, const std::string& reason,
                 unsigned long systemError = 0) {
    record.error = result == HC_OK ? std::string() : reason;
    record.systemError = systemError;
    return result;
}

hc_result Report(ThreadRecord& record, const HostResult& result) {
    return Report(record, ToResult(result.error), result.reason, result.systemError);
}

// Runs body(record) as one call on the handle and turns an escaping exception (only
// memory can run out) into a result.
template <typename Body>
hc_result Guarded(hc_host* host, Body&& body) noexcept {
    if (host == nullptr) {
        return HC_INVALID_ARGUMENT;
    }
    try {
        Call call(*host);
        ThreadRecord& record = call.record();
        record.error.clear();
        record.systemError = 0;
        try {
            return body(record);
        } catch (...) {
            return Report(record, HC_OUT_OF_MEMORY, "out of memory");
        }
    } catch (...) {
        return HC_OUT_OF_MEMORY;
    }
}

constexpr unsigned kSmallestEvent = offsetof(hc_event, type) + sizeof(hc_event_type);

// The C strings of `names`, which must outlive the pointers.
void PointAt(const std::vector<std::string>& names, std::vector<const char*>& pointers) {
    pointers.clear();
    for (const std::string& name : names) {
        pointers.push_back(name.c_str());
    }
}

// `names` holds the C strings of e.names (see PointAt).
hc_event ToC(const HostEvent& e, const std::vector<const char*>& names) {
    hc_event c = {};
    c.size = sizeof c;
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
    c.names = names.empty() ? nullptr : names.data();
    c.name_count = static_cast<unsigned>(names.size());
    c.error = e.error.c_str();
    return c;
}

static_assert(static_cast<int>(HostEventType::Exited) == HC_EVENT_EXITED &&
                  static_cast<int>(HostEventType::Unterminated) == HC_EVENT_UNTERMINATED &&
                  static_cast<int>(HostEventType::PipeOpened) == HC_EVENT_PIPE_OPENED &&
                  static_cast<int>(HostEventType::Fault) == HC_EVENT_FAULT &&
                  static_cast<int>(HostEventType::Sources) == HC_EVENT_SOURCES &&
                  static_cast<int>(HostEventType::FrameSize) == HC_EVENT_FRAME_SIZE,
              "the C event numbers follow HostEventType");
static_assert(HC_WAIT_FOREVER == kWaitForever && HC_WAIT_FOREVER == INFINITE,
              "one value means no limit");
static_assert(HC_MAX_LINE_BYTES == kMaxHostLineBytes &&
                  HC_TERMINATED_EXIT_CODE == kTerminatedExitCode,
              "the C constants follow HostProcess");

static_assert(static_cast<int>(ViewWay::Thumbnail) == HC_VIEW_THUMBNAIL &&
                  static_cast<int>(ViewWay::OwnedWindow) == HC_VIEW_OWNED_WINDOW &&
                  static_cast<int>(ViewWay::ChildWindow) == HC_VIEW_CHILD_WINDOW,
              "the C view ways follow ViewWay");

static_assert(static_cast<int>(StartupFailure::BadCommandLine) == HC_STARTUP_BAD_COMMAND_LINE &&
                  static_cast<int>(StartupFailure::PipeNotOpened) == HC_STARTUP_PIPE_NOT_OPENED &&
                  static_cast<int>(StartupFailure::Other) == HC_STARTUP_OTHER,
              "the C start-up failures follow StartupFailure");

hc_start_options Defaults() {
    HostOptions cpp;
    hc_start_options options = {};
    options.size = sizeof options;
    options.write_timeout_ms = cpp.writeTimeoutMs;
    options.end_wait_ms = cpp.endWaitMs;
    options.max_queued_events = static_cast<unsigned>(cpp.maxQueuedEvents);
    return options;
}

// How many bytes of the caller's options hold whole fields: a size that ends inside a
// field (half a pointer) takes none of it.
size_t WholeOptionFields(size_t size) {
    const size_t ends[] = {
        offsetof(hc_start_options, write_timeout_ms) + sizeof(unsigned),
        offsetof(hc_start_options, end_wait_ms) + sizeof(unsigned),
        offsetof(hc_start_options, max_queued_events) + sizeof(unsigned),
        offsetof(hc_start_options, library_folder) + sizeof(const char*),
        offsetof(hc_start_options, environment) + sizeof(const char* const*),
        offsetof(hc_start_options, environment_count) + sizeof(int),
    };
    static_assert(
        sizeof(hc_start_options) - (offsetof(hc_start_options, environment_count) + sizeof(int)) <
            alignof(hc_start_options),
        "a field appended to hc_start_options is listed here too");
    size_t whole = sizeof(unsigned);  // size itself
    for (size_t end : ends) {
        if (end <= size) {
            whole = end;
        }
    }
    return whole;
}

// Copies the caller's options as far as its struct holds whole fields; the rest keeps the
// defaults. Why they cannot be taken, or "".
std::string ReadOptions(const hc_start_options& given, HostOptions& options) {
    hc_start_options all = Defaults();
    std::memcpy(&all, &given, std::min(WholeOptionFields(given.size), sizeof all));
    options.writeTimeoutMs = all.write_timeout_ms;
    options.endWaitMs = all.end_wait_ms;
    options.maxQueuedEvents = all.max_queued_events;
    if (all.library_folder != nullptr) {
        options.libraryFolder = all.library_folder;
    }
    if (all.environment_count < 0 || (all.environment_count > 0 && all.environment == nullptr)) {
        return "a bad list of host variables";
    }
    for (int i = 0; i < all.environment_count; ++i) {
        if (all.environment[i] == nullptr) {
            return "a null host variable";
        }
        options.environment.push_back(all.environment[i]);
    }
    return "";
}

}  // namespace

extern "C" {

hc_result hc_get_version(hc_version_info* info) {
    if (info == nullptr || info->size < sizeof(unsigned)) {
        return HC_INVALID_ARGUMENT;
    }
    hc_version_info mine = {};
    mine.size = std::min<unsigned>(info->size, sizeof mine);
    mine.interface_version = HC_INTERFACE_VERSION;
    mine.version_major = HOSTS_VERSION_MAJOR;
    mine.version_minor = HOSTS_VERSION_MINOR;
    mine.version_patch = HOSTS_VERSION_PATCH;
    std::memcpy(info, &mine, mine.size);
    return HC_OK;
}

const char* hc_result_text(hc_result result) {
    switch (result) {
        case HC_OK:
            return "HC_OK: success";
        case HC_INVALID_ARGUMENT:
            return "HC_INVALID_ARGUMENT: a missing, malformed or unusable argument";
        case HC_WRONG_STATE:
            return "HC_WRONG_STATE: not possible in the handle's present state";
        case HC_PIPE_NAME_TAKEN:
            return "HC_PIPE_NAME_TAKEN: another server has a pipe of that name";
        case HC_PIPE_FAILED:
            return "HC_PIPE_FAILED: the pipe could not be made";
        case HC_LAUNCH_FAILED:
            return "HC_LAUNCH_FAILED: the host could not be started";
        case HC_EXITED_BEFORE_PIPE:
            return "HC_EXITED_BEFORE_PIPE: the host ended without opening the pipe";
        case HC_EXITED_BEFORE_READY:
            return "HC_EXITED_BEFORE_READY: the host ended before host_ready";
        case HC_PIPE_NEVER_OPENED:
            return "HC_PIPE_NEVER_OPENED: the host did not open the pipe in time";
        case HC_READY_TIMED_OUT:
            return "HC_READY_TIMED_OUT: no host_ready in time";
        case HC_PIPE_CLOSED:
            return "HC_PIPE_CLOSED: the host has ended or the pipe is closed";
        case HC_WRITE_FAILED:
            return "HC_WRITE_FAILED: the system refused the write";
        case HC_WRITE_TIMED_OUT:
            return "HC_WRITE_TIMED_OUT: the host did not take the command in time";
        case HC_TIMED_OUT:
            return "HC_TIMED_OUT: no event in time";
        case HC_NO_MORE_EVENTS:
            return "HC_NO_MORE_EVENTS: the host's exit has been taken";
        case HC_OUT_OF_MEMORY:
            return "HC_OUT_OF_MEMORY: out of memory";
        case HC_HOST_FAULTY:
            return "HC_HOST_FAULTY: the host broke the protocol and was ended";
        case HC_LIST_FAILED:
            return "HC_LIST_FAILED: the host listed no sources, or not all";
        case HC_LIST_TIMED_OUT:
            return "HC_LIST_TIMED_OUT: no source listing in time";
    }
    return "unknown result";
}

hc_result hc_default_start_options(hc_start_options* options) {
    if (options == nullptr || options->size < sizeof(unsigned)) {
        return HC_INVALID_ARGUMENT;
    }
    hc_start_options defaults = Defaults();
    defaults.size = std::min<unsigned>(options->size, sizeof defaults);
    std::memcpy(options, &defaults, defaults.size);
    return HC_OK;
}

hc_result hc_create(hc_host** host) {
    if (host == nullptr) {
        return HC_INVALID_ARGUMENT;
    }
    *host = new (std::nothrow) hc_host;
    return *host ? HC_OK : HC_OUT_OF_MEMORY;
}

void hc_destroy(hc_host* host) {
    if (host != nullptr) {
        HandleLifetime::Destroy(host);
    }
}

hc_result hc_start_ex(hc_host* host, const char* executable, const char* const* args, int arg_count,
                      hc_event_callback callback, void* user, const hc_start_options* options) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (executable == nullptr || arg_count < 0 || (arg_count > 0 && args == nullptr)) {
            return Report(record, HC_INVALID_ARGUMENT, "no executable, or a bad argument list");
        }
        if (options != nullptr && options->size < sizeof(unsigned)) {
            return Report(record, HC_INVALID_ARGUMENT, "the options' size is not set");
        }
        HostOptions cpp;
        cpp.executable = executable;
        for (int i = 0; i < arg_count; ++i) {
            if (args[i] == nullptr) {
                return Report(record, HC_INVALID_ARGUMENT, "a null host argument");
            }
            cpp.arguments.push_back(args[i]);
        }
        if (options != nullptr) {
            std::string problem = ReadOptions(*options, cpp);
            if (!problem.empty()) {
                return Report(record, HC_INVALID_ARGUMENT, problem);
            }
        }
        if (callback) {
            // Holds the callback and user pointer itself: they become the handle's only
            // with a successful start, and no callback reads the handle.
            cpp.onEvent = [callback, user](const HostEvent& event) {
                std::vector<const char*> names;
                PointAt(event.names, names);
                hc_event c = ToC(event, names);
                callback(user, &c);
            };
        }
        unsigned endWaitMs = cpp.endWaitMs;
        HostResult started = host->process.Start(std::move(cpp));
        if (started) {
            host->endWaitMs = endWaitMs;
            host->withCallback.store(callback != nullptr);
        }
        return Report(record, started);
    });
}

hc_result hc_start(hc_host* host, const char* executable, const char* const* args, int arg_count,
                   hc_event_callback callback, void* user) {
    return hc_start_ex(host, executable, args, arg_count, callback, user, nullptr);
}

hc_result hc_wait_ready(hc_host* host, unsigned timeout_ms, long long* window,
                        unsigned long* process_id) {
    return Guarded(host, [&](ThreadRecord& record) {
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
        return Report(record, result);
    });
}

hc_result hc_get_startup_failure(hc_host* host, hc_startup_info* info) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (info == nullptr || info->size < sizeof(unsigned)) {
            return Report(record, HC_INVALID_ARGUMENT, "no info to fill, or its size is not set");
        }
        if (!host->process.Started()) {
            return Report(record, HC_WRONG_STATE, "no host was started");
        }
        hc_startup_info mine = {};
        mine.size = std::min<unsigned>(info->size, sizeof mine);
        mine.text = "";
        if (host->process.HasExited()) {
            StartupProblem taken = host->process.startupProblem();
            if (host->Destroying()) {
                std::memcpy(info, &mine, mine.size);
                return Report(record, HC_WRONG_STATE, kBeingDestroyed);
            }
            std::lock_guard<std::mutex> lock(host->startupLock);
            if (!host->startupKnown) {
                host->startup = std::move(taken);
                host->startupKnown = true;
            }
            mine.failure = static_cast<hc_startup_failure>(host->startup.reason);
            mine.text = host->startup.text.c_str();
        }
        std::memcpy(info, &mine, mine.size);
        return Report(record, HC_OK, "");
    });
}

hc_result hc_next_event(hc_host* host, unsigned timeout_ms, hc_event* event) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (event == nullptr || event->size < kSmallestEvent) {
            return Report(record, HC_INVALID_ARGUMENT, "no event to fill, or its size is not set");
        }
        if (!host->process.Started()) {
            return Report(record, HC_WRONG_STATE, "no host has been started");
        }
        if (host->withCallback.load()) {
            return Report(record, HC_WRONG_STATE, "the events go to the callback");
        }
        if (!host->process.NextEvent(record.polled, timeout_ms)) {
            return host->process.EventsOver()
                       ? Report(record, HC_NO_MORE_EVENTS, "the host has ended")
                       : Report(record, HC_TIMED_OUT, "no event in time");
        }
        if (host->Destroying()) {
            return Report(record, HC_NO_MORE_EVENTS, kBeingDestroyed);
        }
        PointAt(record.polled.names, record.polledNames);
        hc_event full = ToC(record.polled, record.polledNames);
        full.size = std::min<unsigned>(event->size, sizeof full);
        std::memcpy(event, &full, full.size);
        return Report(record, HC_OK, "");
    });
}

hc_result hc_set_source(hc_host* host, const char* name, const char* quality) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (name == nullptr) {
            return Report(record, HC_INVALID_ARGUMENT, "no source name");
        }
        return Report(record, quality ? host->process.SetSource(name, quality)
                                      : host->process.SetSource(name));
    });
}

hc_result hc_set_quality(hc_host* host, const char* quality) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (quality == nullptr) {
            return Report(record, HC_INVALID_ARGUMENT, "no quality");
        }
        return Report(record, host->process.SetQuality(quality));
    });
}

hc_result hc_shutdown(hc_host* host) {
    return Guarded(host,
                   [&](ThreadRecord& record) { return Report(record, host->process.Shutdown()); });
}

hc_result hc_list_sources(hc_host* host, unsigned timeout_ms, hc_source_list* list) {
    return Guarded(host, [&](ThreadRecord& record) {
        constexpr size_t kSmallest = offsetof(hc_source_list, names) + sizeof(list->names);
        if (list == nullptr || list->size < kSmallest) {
            return Report(record, HC_INVALID_ARGUMENT, "no list to fill, or its size is not set");
        }
        HostResult result = host->process.ListSources(record.listed, timeout_ms);
        if (host->Destroying()) {
            record.listed.clear();
            result.error = HostError::PipeClosed;
            result.reason = kBeingDestroyed;
        }
        PointAt(record.listed, record.listedNames);
        hc_source_list filled = {};
        filled.size = std::min<unsigned>(list->size, sizeof filled);
        filled.count = static_cast<unsigned>(record.listedNames.size());
        filled.names = record.listedNames.empty() ? nullptr : record.listedNames.data();
        std::memcpy(list, &filled, filled.size);
        return Report(record, result);
    });
}

hc_result hc_request_sources(hc_host* host) {
    return Guarded(
        host, [&](ThreadRecord& record) { return Report(record, host->process.RequestSources()); });
}

hc_result hc_end(hc_host* host, unsigned wait_ms, unsigned long* exit_code) {
    return Guarded(host, [&](ThreadRecord& record) {
        uint32_t code = 0;
        HostResult result = host->process.End(wait_ms, &code);
        if (result && exit_code) {
            *exit_code = code;
        }
        return Report(record, result);
    });
}

hc_result hc_end_many(hc_host* const* hosts, size_t count, unsigned wait_ms,
                      unsigned long* exit_codes, hc_result* results) {
    if (hosts == nullptr && count > 0) {
        return HC_INVALID_ARGUMENT;
    }
    try {
        std::list<Call> calls;  // one call on each handle for the whole of this one
        std::vector<HostProcess*> processes;
        for (size_t i = 0; i < count; ++i) {
            if (hosts[i] != nullptr) {
                calls.emplace_back(*hosts[i]);
                calls.back().record().error.clear();
                calls.back().record().systemError = 0;
            }
            processes.push_back(hosts[i] != nullptr ? &hosts[i]->process : nullptr);
        }
        std::vector<uint32_t> codes;
        std::vector<HostResult> ended = HostProcess::EndMany(processes, wait_ms, &codes);
        hc_result first = HC_OK;
        auto call = calls.begin();
        for (size_t i = 0; i < count; ++i) {
            hc_result result = HC_INVALID_ARGUMENT;
            if (hosts[i] != nullptr) {
                result = Report((call++)->record(), ended[i]);
            }
            first = first == HC_OK ? result : first;
            if (exit_codes != nullptr) {
                exit_codes[i] = result == HC_OK ? codes[i] : 0;
            }
            if (results != nullptr) {
                results[i] = result;
            }
        }
        return first;
    } catch (...) {
        return HC_OUT_OF_MEMORY;
    }
}

hc_result hc_exit_code(hc_host* host, unsigned long* exit_code) {
    return Guarded(host, [&](ThreadRecord& record) {
        uint32_t code = 0;
        if (!host->process.Started()) {
            return Report(record, HC_WRONG_STATE, "no host was started");
        }
        if (!host->process.HasExited(&code)) {
            return Report(record, HC_WRONG_STATE, "the host is still running");
        }
        if (exit_code) {
            *exit_code = code;
        }
        return Report(record, HC_OK, "");
    });
}

hc_result hc_get_process(hc_host* host, hc_process_info* info) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (info == nullptr || info->size < sizeof(unsigned)) {
            return Report(record, HC_INVALID_ARGUMENT, "no info to fill, or its size is not set");
        }
        if (!host->process.Started()) {
            return Report(record, HC_WRONG_STATE, "no host was started");
        }
        if (host->Destroying()) {
            return Report(record, HC_WRONG_STATE, kBeingDestroyed);
        }
        hc_process_info mine = {};
        mine.size = std::min<unsigned>(info->size, sizeof mine);
        mine.process_id = host->process.processId();
        mine.process_handle = host->process.processHandle();
        std::memcpy(info, &mine, mine.size);
        return Report(record, HC_OK, "");
    });
}

hc_result hc_terminate(hc_host* host, unsigned long exit_code) {
    return Guarded(host, [&](ThreadRecord& record) {
        return Report(record, host->process.Terminate(static_cast<uint32_t>(exit_code)));
    });
}

hc_result hc_dropped_events(hc_host* host, unsigned long long* count) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (count == nullptr) {
            return Report(record, HC_INVALID_ARGUMENT, "nowhere to put the count");
        }
        if (!host->process.Started()) {
            return Report(record, HC_WRONG_STATE, "no host was started");
        }
        *count = host->process.droppedEvents();
        return Report(record, HC_OK, "");
    });
}

const char* hc_last_error(hc_host* host) {
    if (host == nullptr) {
        return "no handle";
    }
    try {
        Call call(*host);
        return call.record().error.c_str();
    } catch (...) {
        return "out of memory";
    }
}

unsigned long hc_last_system_error(hc_host* host) {
    if (host == nullptr) {
        return 0;
    }
    try {
        Call call(*host);
        return call.record().systemError;
    } catch (...) {
        return 0;
    }
}

hc_result hc_view_show(hc_host* host, void* container, int left, int top, int width, int height,
                       unsigned flags) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (width < 0 || height < 0) {
            return Report(record, HC_INVALID_ARGUMENT, "a negative width or height");
        }
        unsigned ways = kViewByAnyWay;
        ways &= (flags & HC_VIEW_NO_THUMBNAIL) ? ~kViewByThumbnail : ~0u;
        ways &= (flags & HC_VIEW_NO_OWNED_WINDOW) ? ~kViewByOwnedWindow : ~0u;
        ways &= (flags & HC_VIEW_NO_CHILD_WINDOW) ? ~kViewByChildWindow : ~0u;
        RECT rect = {left, top, left + width, top + height};
        return Report(
            record,
            host->view.Show(static_cast<HWND>(container), rect,
                            (flags & HC_VIEW_FILL) ? ViewFit::Fill : ViewFit::Letterbox, ways));
    });
}

hc_result hc_view_hide(hc_host* host) {
    return Guarded(host, [&](ThreadRecord& record) { return Report(record, host->view.Hide()); });
}

hc_result hc_view_close(hc_host* host) {
    return Guarded(host, [&](ThreadRecord& record) {
        host->view.Close();
        return Report(record, HC_OK, "");
    });
}

hc_result hc_view_get(hc_host* host, hc_view_info* info) {
    return Guarded(host, [&](ThreadRecord& record) {
        if (info == nullptr || info->size < sizeof(unsigned)) {
            return Report(record, HC_INVALID_ARGUMENT, "no info to fill, or its size is not set");
        }
        ViewState state = host->view.state();
        hc_view_info mine = {};
        mine.size = std::min<unsigned>(info->size, sizeof mine);
        mine.way = static_cast<hc_view_way>(state.way);
        mine.visible = state.visible ? 1 : 0;
        mine.left = state.picture.left;
        mine.top = state.picture.top;
        mine.right = state.picture.right;
        mine.bottom = state.picture.bottom;
        mine.frame_width = state.frameWidth;
        mine.frame_height = state.frameHeight;
        std::memcpy(info, &mine, mine.size);
        return Report(record, HC_OK, "");
    });
}

}  // extern "C"
