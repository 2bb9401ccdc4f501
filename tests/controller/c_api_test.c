/* The controller's C interface, driven from C through host_controller.dll as another
 * language would call it: one row per calling pattern an application uses, against a
 * Tivane on the simulated runtime and against controller_fake_host.exe (a host that does
 * what real hosts never do). Prints one line per check and "N passed, M failed". */
#include <locale.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <tlhelp32.h>

#include "host_controller.h"

static int passed = 0;
static int failed = 0;

static void report(int ok, const char* what, const char* detail) {
    if (ok) {
        ++passed;
        printf("PASS %s\n", what);
    } else {
        ++failed;
        printf("FAIL %s (%s)\n", what, detail ? detail : "");
    }
    fflush(stdout);
}

/* The detail (hc_last_error, mostly) is read only after the checked calls have returned:
 * as a function's arguments, C may evaluate it first and print what came before. */
#define check(ok, what, detail)                               \
    do {                                                      \
        const int check_ok = (ok);                            \
        report(check_ok, (what), check_ok ? NULL : (detail)); \
    } while (0)

static char bin_dir[MAX_PATH];
static char tivane[MAX_PATH];
static char fake[MAX_PATH];
static char sim_dir[MAX_PATH];

static double now_ms(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

/* The longest hc_end, hc_destroy, hc_wait_ready (past its own timeout) and
 * hc_get_startup_failure of the run, against the bounds the header gives. */
static double longest_end_ms = 0;
static double longest_destroy_ms = 0;
static double longest_ready_ms = 0;
static double longest_ready_past_ms = 0;
static double longest_startup_ms = 0;

static hc_result wait_ready_timed(hc_host* host, unsigned timeout_ms, long long* window,
                                  unsigned long* process_id) {
    double begin = now_ms();
    hc_result result = hc_wait_ready(host, timeout_ms, window, process_id);
    double took = now_ms() - begin;
    longest_ready_ms = took > longest_ready_ms ? took : longest_ready_ms;
    if (took - timeout_ms > longest_ready_past_ms) {
        longest_ready_past_ms = took - timeout_ms;
    }
    return result;
}

static hc_result startup_failure_timed(hc_host* host, hc_startup_info* info) {
    double begin = now_ms();
    hc_result result = hc_get_startup_failure(host, info);
    double took = now_ms() - begin;
    longest_startup_ms = took > longest_startup_ms ? took : longest_startup_ms;
    return result;
}

static hc_result end_timed(hc_host* host, unsigned wait_ms, unsigned long* code) {
    double begin = now_ms();
    hc_result result = hc_end(host, wait_ms, code);
    double took = now_ms() - begin;
    longest_end_ms = took > longest_end_ms ? took : longest_end_ms;
    return result;
}

static void destroy_timed(hc_host* host) {
    double begin = now_ms();
    double took;
    hc_destroy(host);
    took = now_ms() - begin;
    longest_destroy_ms = took > longest_destroy_ms ? took : longest_destroy_ms;
}

static HANDLE new_event(void) {
    return CreateEventW(NULL, TRUE, FALSE, NULL);
}

static int signalled(HANDLE event, DWORD ms) {
    return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

static hc_result start_fake(hc_host* host, const char* act, hc_event_callback callback,
                            void* user) {
    char option[64];
    const char* args[1];
    snprintf(option, sizeof option, "--act=%s", act);
    args[0] = option;
    return hc_start(host, fake, args, 1, callback, user);
}

/* Takes polled events until one of `type`; HC_OK when it came. */
static hc_result take_until(hc_host* host, hc_event* event, hc_event_type type) {
    hc_result taken;
    event->size = sizeof *event;
    while ((taken = hc_next_event(host, 20000, event)) == HC_OK && event->type != type) {
        event->size = sizeof *event;
    }
    return taken;
}

typedef HRESULT(WINAPI* thread_name_fn)(HANDLE, PWSTR*);

/* How many threads of this process have a name that begins with `prefix`
 * ("host_controller: " for every thread of the library's); -1 where the system keeps no
 * thread names. */
static int named_threads(const wchar_t* prefix) {
    thread_name_fn name_of = (thread_name_fn)(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetThreadDescription");
    THREADENTRY32 entry;
    HANDLE snapshot;
    int count = 0;
    BOOL more;
    if (name_of == NULL) {
        return -1;
    }
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    entry.dwSize = sizeof entry;
    for (more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        HANDLE thread =
            entry.th32OwnerProcessID == GetCurrentProcessId()
                ? OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID)
                : NULL;
        PWSTR name = NULL;
        if (thread != NULL && SUCCEEDED(name_of(thread, &name)) && name != NULL) {
            count += wcsncmp(name, prefix, wcslen(prefix)) == 0;
        }
        LocalFree(name);
        if (thread != NULL) {
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return count;
}

/* Checks `count` of `prefix`'s threads, or says that it cannot. */
static void check_named_threads(const wchar_t* prefix, int at_most, const char* what) {
    int count = named_threads(prefix);
    if (count < 0) {
        printf("SKIP %s (no thread names here)\n", what);
    } else {
        check(count <= at_most, what, NULL);
    }
}

/* What a callback saw; the events are set on the library's callback thread. */
typedef struct seen {
    HANDLE stats;
    HANDLE exited;
    HANDLE listed; /* set at each SOURCES event */
    int listings;
    unsigned last_count; /* of the last SOURCES event */
    char last_name[128]; /* its last name */
    int first_type;
    int events;
    int width; /* of the last stats */
    unsigned long exit_code;
    char last_state[32];
    char source[128];
} seen;

static void seen_init(seen* s) {
    memset(s, 0, sizeof *s);
    s->first_type = -1;
    s->stats = new_event();
    s->exited = new_event();
    s->listed = new_event();
}

static void seen_close(seen* s) {
    CloseHandle(s->stats);
    CloseHandle(s->exited);
    CloseHandle(s->listed);
}

static void on_event(void* user, const hc_event* event) {
    seen* s = (seen*)user;
    if (s->events++ == 0) {
        s->first_type = (int)event->type;
    }
    if (event->type == HC_EVENT_STATUS) {
        snprintf(s->last_state, sizeof s->last_state, "%s", event->state);
        if (strcmp(event->state, "connecting") == 0) {
            snprintf(s->source, sizeof s->source, "%s", event->source);
        }
    } else if (event->type == HC_EVENT_STATS && event->width > 0) {
        s->width = event->width;
        SetEvent(s->stats);
    } else if (event->type == HC_EVENT_EXITED) {
        s->exit_code = event->exit_code;
        SetEvent(s->exited);
    } else if (event->type == HC_EVENT_SOURCES && HC_EVENT_HAS(event, error)) {
        s->last_count = event->name_count;
        snprintf(s->last_name, sizeof s->last_name, "%s",
                 event->name_count > 0 ? event->names[event->name_count - 1] : "");
        ++s->listings;
        SetEvent(s->listed);
    }
}

static void callbacks_drive_a_whole_life(void) {
    int before = named_threads(L"host_controller: ");
    seen s;
    hc_host* host = NULL;
    hc_event event;
    long long window = 0;
    unsigned long pid = 0;
    unsigned long code = 99;
    const char* args[] = {"--quality=high"};
    int i;
    seen_init(&s);
    check(hc_create(&host) == HC_OK, "create", NULL);
    check(hc_start(host, tivane, args, 1, on_event, &s) == HC_OK, "start", hc_last_error(host));
    check(wait_ready_timed(host, 30000, &window, &pid) == HC_OK && window != 0 && pid != 0,
          "host_ready with window and process id", hc_last_error(host));
    event.size = sizeof event;
    check(hc_next_event(host, 0, &event) == HC_WRONG_STATE, "no polling beside a callback", NULL);
    check(hc_set_source(host, "pattern:320x180@30", NULL) == HC_OK, "set_source",
          hc_last_error(host));
    check(signalled(s.stats, 20000) && s.width == 320, "stats at 320 wide", NULL);
    check(hc_set_quality(host, "low") == HC_OK, "set_quality", hc_last_error(host));
    for (i = 0; i < 20 && s.width != 160; ++i) {
        ResetEvent(s.stats);
        signalled(s.stats, 2000);
    }
    check(s.width == 160, "stats at 160 wide", NULL);
    check(end_timed(host, 20000, &code) == HC_OK && code == 0, "end with exit code 0",
          hc_last_error(host));
    check(signalled(s.exited, 0) && s.exit_code == 0,
          "the exit came through the callback before hc_end returned", NULL);
    check(s.first_type == HC_EVENT_PIPE_OPENED, "the pipe's opening came first", NULL);
    check(strcmp(s.last_state, "disconnected") == 0, "the last status is disconnected",
          s.last_state);
    check(hc_shutdown(host) == HC_PIPE_CLOSED && hc_last_error(host)[0] != '\0',
          "no command after the end", hc_last_error(host));
    destroy_timed(host);
    check_named_threads(L"host_controller: ", before,
                        "no thread of the library's runs once hc_destroy returned");
    seen_close(&s);
}

static void polling_sees_events_in_order_and_nothing_is_sent_after_the_end(void) {
    hc_host* host = NULL;
    hc_event event;
    int types[3] = {-1, -1, -1};
    int i;
    hc_create(&host);
    event.size = sizeof event;
    check(hc_next_event(host, 0, &event) == HC_WRONG_STATE, "no events before a start", NULL);
    check(hc_start(host, tivane, NULL, 0, NULL, NULL) == HC_OK, "start for polling",
          hc_last_error(host));
    for (i = 0; i < 3 && hc_next_event(host, 30000, &event) == HC_OK; ++i) {
        types[i] = (int)event.type;
        if (event.type == HC_EVENT_READY) {
            hc_set_source(host, "pattern:64x64@30", "low");
        }
    }
    check(types[0] == HC_EVENT_PIPE_OPENED && types[1] == HC_EVENT_READY &&
              types[2] == HC_EVENT_STATUS,
          "pipe opened, ready, then a status", NULL);
    check(hc_shutdown(host) == HC_OK, "shutdown", hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_EXITED) == HC_OK && event.exit_code == 0,
          "exited with 0", hc_last_error(host));
    check(hc_next_event(host, 0, &event) == HC_NO_MORE_EVENTS, "nothing after the exit", NULL);
    /* The host ended by itself, not through hc_end: still "pipe closed", not a write error. */
    check(hc_set_source(host, "pattern:64x64@30", NULL) == HC_PIPE_CLOSED,
          "a command after the host ended", hc_last_error(host));
    destroy_timed(host);
}

static DWORD WINAPI fail_on_other_thread(LPVOID context) {
    hc_set_quality((hc_host*)context, NULL);
    return 0;
}

static void failures_are_told(void) {
    hc_host* host = NULL;
    unsigned long code = 0;
    char missing[MAX_PATH];
    static char path[32768];
    const char* error;
    HANDLE other;
    hc_startup_info startup;
    check(hc_set_source(NULL, "A", NULL) == HC_INVALID_ARGUMENT, "a null handle", NULL);
    hc_create(&host);
    check(hc_shutdown(host) == HC_WRONG_STATE, "a command before the start", NULL);
    check(hc_exit_code(host, &code) == HC_WRONG_STATE &&
              strstr(hc_last_error(host), "no host was started") != NULL,
          "no exit code before the start", hc_last_error(host));
    snprintf(missing, sizeof missing, "%sNoSuchHost.exe", bin_dir);
    check(hc_start(host, missing, NULL, 0, NULL, NULL) == HC_LAUNCH_FAILED &&
              strstr(hc_last_error(host), "NoSuchHost.exe: not found") != NULL &&
              hc_last_system_error(host) == 2,
          "a missing program, named in the reason", hc_last_error(host));
    check(hc_exit_code(host, &code) == HC_WRONG_STATE &&
              strstr(hc_last_error(host), "no host was started") != NULL,
          "no exit code after a failed launch", hc_last_error(host));
    /* Each thread keeps its own reason. */
    check(hc_set_source(host, "", NULL) == HC_INVALID_ARGUMENT, "an empty source name", NULL);
    error = hc_last_error(host);
    other = CreateThread(NULL, 0, fail_on_other_thread, host, 0, NULL);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
    check(strstr(error, "source name") != NULL, "another thread's failure leaves ours", error);
    destroy_timed(host);

    /* Tivane without its runtime: exit code 1 before the pipe is opened. */
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", strchr(path, ';') ? strchr(path, ';') + 1 : "");
    hc_create(&host);
    check(hc_start(host, tivane, NULL, 0, NULL, NULL) == HC_OK, "start without the runtime",
          hc_last_error(host));
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_PIPE &&
              strstr(hc_last_error(host), "exited with code 1") != NULL &&
              strstr(hc_last_error(host), "library_not_found") != NULL,
          "exited before the pipe, with the reason", hc_last_error(host));
    check(hc_exit_code(host, &code) == HC_OK && code == 1, "exit code 1", NULL);
    startup.size = sizeof startup;
    check(startup_failure_timed(host, &startup) == HC_OK &&
              startup.failure == HC_STARTUP_LIBRARY_NOT_FOUND &&
              strstr(startup.text, "Processing.NDI.Lib.x64.dll not found") != NULL,
          "the host's own reason", startup.text);
    destroy_timed(host);
    SetEnvironmentVariableA("PATH", path);
}

/* Only an absolute path to a .exe starts anything: the others would be searched for in the
 * current folder (and beside this program, where a Tivane.exe is), or run through cmd. */
static void executables_that_are_not_absolute_exe_paths_are_refused(void) {
    char bat[MAX_PATH];
    const char* refused[] = {"Tivane.exe", ".\\Tivane.exe",     "C:Tivane.exe", "\\Tivane.exe",
                             bat,          "C:\\\"quoted\".exe"};
    size_t i;
    snprintf(bat, sizeof bat, "%sTivane.bat", bin_dir);
    for (i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
        hc_host* host = NULL;
        unsigned long code = 0;
        hc_create(&host);
        check(hc_start(host, refused[i], NULL, 0, NULL, NULL) == HC_INVALID_ARGUMENT &&
                  hc_exit_code(host, &code) == HC_WRONG_STATE,
              "refused, nothing started", refused[i]);
        destroy_timed(host);
    }
}

static void never_called(void* user, const hc_event* event) {
    (void)event;
    ++*(int*)user;
}

static void a_failed_start_changes_nothing(void) {
    seen s;
    int strays = 0;
    hc_host* host = NULL;
    hc_event event;
    char missing[MAX_PATH];
    seen_init(&s);
    hc_create(&host);
    check(start_fake(host, "stats", on_event, &s) == HC_OK, "start", hc_last_error(host));
    check(start_fake(host, "stats", never_called, &strays) == HC_WRONG_STATE,
          "a second start is refused", NULL);
    check(signalled(s.stats, 20000) && strays == 0,
          "the running host's events still go to the first callback", NULL);
    destroy_timed(host);
    check(strays == 0 && signalled(s.exited, 0), "and only to it", NULL);
    seen_close(&s);

    /* A callback start that fails, then a polling start: polling works. */
    hc_create(&host);
    snprintf(missing, sizeof missing, "%sNoSuchHost.exe", bin_dir);
    check(hc_start(host, missing, NULL, 0, never_called, &strays) == HC_LAUNCH_FAILED,
          "a failed start with a callback", NULL);
    check(start_fake(host, "stats", NULL, NULL) == HC_OK, "then a polling start",
          hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_STATS) == HC_OK, "polling takes the events",
          hc_last_error(host));
    destroy_timed(host);
}

/* A user-interface thread that gets each event by SendMessage from the callback and
 * calls hc_end itself. */
#define EVENT_MESSAGE (WM_APP + 1)

#define HOLD_MESSAGE (WM_APP + 2)    /* held until `release`: a call in progress stays so */
#define DESTROY_MESSAGE (WM_APP + 3) /* destroys `destroy_now` */

typedef struct ui_state {
    HWND window;
    int stats;
    double exited_at;
    hc_host* destroy_on_exit; /* destroyed by the window procedure when EXITED comes */
    int destroyed;
    HANDLE entered; /* set once a sent message arrived: the thread is inside a wait */
    HANDLE held;    /* set once HOLD_MESSAGE arrived */
    HANDLE release;
    volatile LONG hold_returned; /* HOLD_MESSAGE's window procedure has returned */
    hc_host* destroy_now;
    volatile LONG callback_busy; /* a callback busy in its own code */
    int callback_busy_at_destroy_return;
} ui_state;

static ui_state ui;

static LRESULT CALLBACK ui_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == EVENT_MESSAGE) {
        ui.stats += wparam == HC_EVENT_STATS;
        if (wparam == HC_EVENT_EXITED) {
            ui.exited_at = now_ms();
            if (ui.destroy_on_exit != NULL) {
                hc_destroy(ui.destroy_on_exit);
                ui.destroy_on_exit = NULL;
                ui.destroyed = 1;
            }
        }
        SetEvent(ui.entered);
        return 0;
    }
    if (message == HOLD_MESSAGE) {
        SetEvent(ui.held);
        WaitForSingleObject(ui.release, 20000);
        InterlockedExchange(&ui.hold_returned, 1);
        return 0;
    }
    if (message == DESTROY_MESSAGE) {
        hc_destroy(ui.destroy_now);
        ui.callback_busy_at_destroy_return = (int)ui.callback_busy;
        ui.destroyed = 1;
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

static void send_to_ui(void* user, const hc_event* event) {
    (void)user;
    SendMessageW(ui.window, EVENT_MESSAGE, (WPARAM)event->type, 0);
}

/* Runs the thread's message loop until `done` holds or `ms` have passed. */
static void pump_until(const int* done, double ms) {
    double end = now_ms() + ms;
    MSG message;
    while (!*done && now_ms() < end) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}

static void ending_from_a_ui_thread_that_events_are_sent_to(void) {
    hc_host* host = NULL;
    unsigned long code = 99;
    double begin, took;
    ui.stats = 0;
    ui.exited_at = 0;
    hc_create(&host);
    check(hc_start(host, tivane, NULL, 0, send_to_ui, NULL) == HC_OK &&
              wait_ready_timed(host, 30000, NULL, NULL) == HC_OK &&
              hc_set_source(host, "pattern:64x64@30", NULL) == HC_OK,
          "started", hc_last_error(host));
    pump_until(&ui.stats, 20000);
    check(ui.stats > 0, "stats reached the window", NULL);
    begin = now_ms();
    check(end_timed(host, 10000, &code) == HC_OK && code == 0, "ended with 0", hc_last_error(host));
    took = now_ms() - begin;
    printf("hc_end with events sent to the ending thread: %.0f ms\n", took);
    check(ui.exited_at > 0 && ui.exited_at <= now_ms(), "EXITED reached the window first", NULL);
    destroy_timed(host);

    /* The window procedure destroys the handle when the callback's SendMessage brings
     * EXITED: the callback waits for the window procedure, which must not wait for it. */
    hc_create(&host);
    ui.destroy_on_exit = host;
    check(start_fake(host, "stats", send_to_ui, NULL) == HC_OK &&
              wait_ready_timed(host, 30000, NULL, NULL) == HC_OK && hc_shutdown(host) == HC_OK,
          "a host that ends", NULL);
    pump_until(&ui.destroyed, 20000);
    check(ui.destroyed, "destroyed in the window procedure that EXITED was sent to", NULL);
}

/* The thread that waits for ready is told when the host goes, whoever destroys the
 * handle meanwhile; the handle is freed only after its call has returned. */
static void destroy_on_exit(void* user, const hc_event* event) {
    if (event->type == HC_EVENT_EXITED) {
        hc_destroy((hc_host*)user);
    }
}

static DWORD WINAPI destroy_once_inside(LPVOID context) {
    /* Answered only from inside hc_wait_ready's wait: the main thread pumps nowhere else. */
    SendMessageW(ui.window, EVENT_MESSAGE, HC_EVENT_OTHER, 0);
    hc_destroy((hc_host*)context);
    return 0;
}

static DWORD WINAPI hold_the_waiter(LPVOID context) {
    (void)context;
    SendMessageW(ui.window, HOLD_MESSAGE, 0, 0);
    return 0;
}

static DWORD WINAPI release_later(LPVOID context) {
    (void)context;
    Sleep(2000); /* longer than the host takes to end: a destroy that does not wait is seen */
    SetEvent(ui.release);
    return 0;
}

static int hold_returned_at_destroy_return = 0;

static DWORD WINAPI destroy_once_held(LPVOID context) {
    HANDLE releaser;
    WaitForSingleObject(ui.held, 20000);
    releaser = CreateThread(NULL, 0, release_later, NULL, 0, NULL);
    hc_destroy((hc_host*)context);
    hold_returned_at_destroy_return = (int)ui.hold_returned;
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    return 0;
}

static void destroy_while_another_thread_waits_for_ready(void) {
    hc_host* host = NULL;
    hc_event event;
    HANDLE destroyer, holder;
    double begin;
    hc_create(&host);
    check(start_fake(host, "die-early", destroy_on_exit, host) == HC_OK,
          "start a host that dies before ready", hc_last_error(host));
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_READY,
          "destroyed by the callback: the waiter learns of the early end", NULL);

    hc_create(&host);
    check(start_fake(host, "mute", NULL, NULL) == HC_OK &&
              take_until(host, &event, HC_EVENT_PIPE_OPENED) == HC_OK,
          "a host that opened the pipe and never gets ready", hc_last_error(host));
    ResetEvent(ui.entered);
    begin = now_ms();
    destroyer = CreateThread(NULL, 0, destroy_once_inside, host, 0, NULL);
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_READY &&
              now_ms() - begin < 20000,
          "destroyed by another thread: the waiter returns at the host's end", NULL);
    WaitForSingleObject(destroyer, INFINITE);
    CloseHandle(destroyer);
    check(signalled(ui.entered, 0), "the destroy came while the waiter waited", NULL);

    /* The waiter's call is held up in a window procedure that its wait dispatched: the
     * destroy on another thread returns only after that call has returned. */
    hc_create(&host);
    check(start_fake(host, "mute", NULL, NULL) == HC_OK &&
              take_until(host, &event, HC_EVENT_PIPE_OPENED) == HC_OK,
          "a host that opened the pipe and never gets ready", hc_last_error(host));
    ResetEvent(ui.held);
    ResetEvent(ui.release);
    ui.hold_returned = 0;
    holder = CreateThread(NULL, 0, hold_the_waiter, NULL, 0, NULL);
    destroyer = CreateThread(NULL, 0, destroy_once_held, host, 0, NULL);
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_READY,
          "the waiter learns of the end", NULL);
    WaitForSingleObject(destroyer, INFINITE);
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(destroyer);
    CloseHandle(holder);
    check(hold_returned_at_destroy_return, "hc_destroy waited for the call in progress", NULL);
}

/* A message from another thread, not the callback's, destroys the handle while the
 * callback is busy in its own code: hc_destroy waits for the callback to return. */
static HANDLE callback_gate;
static HANDLE callback_reached;

static void busy_callback(void* user, const hc_event* event) {
    (void)user;
    if (event->type == HC_EVENT_STATS && !signalled(callback_reached, 0)) {
        InterlockedExchange(&ui.callback_busy, 1);
        SetEvent(callback_reached);
        WaitForSingleObject(callback_gate, 20000); /* takes no messages */
        InterlockedExchange(&ui.callback_busy, 0);
    }
}

static DWORD WINAPI send_destroy(LPVOID context) {
    (void)context;
    SendMessageW(ui.window, DESTROY_MESSAGE, 0, 0);
    return 0;
}

static DWORD WINAPI open_gate_later(LPVOID context) {
    (void)context;
    Sleep(1500); /* longer than the destroy would take without waiting */
    SetEvent(callback_gate);
    return 0;
}

static void destroy_in_another_threads_message_waits_for_the_callback(void) {
    HANDLE opener, sender;
    callback_gate = new_event();
    callback_reached = new_event();
    hc_create(&ui.destroy_now);
    ui.destroyed = 0;
    check(start_fake(ui.destroy_now, "stats", busy_callback, NULL) == HC_OK &&
              signalled(callback_reached, 20000),
          "a callback busy in its own code", NULL);
    opener = CreateThread(NULL, 0, open_gate_later, NULL, 0, NULL);
    sender = CreateThread(NULL, 0, send_destroy, NULL, 0, NULL);
    pump_until(&ui.destroyed, 20000);
    check(ui.destroyed && !ui.callback_busy_at_destroy_return,
          "hc_destroy in another thread's message returned after the callback", NULL);
    WaitForSingleObject(sender, INFINITE);
    WaitForSingleObject(opener, INFINITE);
    CloseHandle(sender);
    CloseHandle(opener);
    CloseHandle(callback_gate);
    CloseHandle(callback_reached);
}

/* A thread inside hc_list_sources takes a message in which the handle is destroyed: the
 * call returns no pointer into the handle, which goes as the call returns. */
static void a_call_that_a_nested_destroy_ended_returns_no_pointers(void) {
    hc_source_list list;
    hc_result listed;
    HANDLE sender;
    memset(&list, 0xAB, sizeof list);
    list.size = sizeof list;
    hc_create(&ui.destroy_now);
    ui.destroyed = 0;
    check(start_fake(ui.destroy_now, "lister", NULL, NULL) == HC_OK &&
              wait_ready_timed(ui.destroy_now, 30000, NULL, NULL) == HC_OK,
          "a host that lists", NULL);
    sender = CreateThread(NULL, 0, send_destroy, NULL, 0, NULL);
    /* Queued for this thread, taken first inside hc_list_sources's wait. */
    while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) {
        Sleep(1);
    }
    listed = hc_list_sources(ui.destroy_now, 20000, &list);
    check(ui.destroyed && listed == HC_PIPE_CLOSED && list.count == 0 && list.names == NULL,
          "destroyed inside the call: no names", hc_result_text(listed));
    WaitForSingleObject(sender, INFINITE);
    CloseHandle(sender);
}

/* A child of the host keeps the standard error they share busy after the host has ended:
 * the library's reader of it stops all the same once the wait for host_ready has read
 * what the host said, and no library thread outlives hc_destroy. */
static void a_chatty_child_of_the_host_holds_nothing_up(void) {
    int before = named_threads(L"host_controller: ");
    hc_startup_info startup;
    hc_host* host = NULL;
    hc_create(&host);
    check(start_fake(host, "chatty-child", NULL, NULL) == HC_OK &&
              wait_ready_timed(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_READY,
          "a host that ended, its child talking on", hc_last_error(host));
    check_named_threads(L"host_controller: standard error", 0,
                        "the reader of the host's standard error stopped");
    startup.size = sizeof startup;
    check(startup_failure_timed(host, &startup) == HC_OK, "why it could not start",
          hc_last_error(host));
    destroy_timed(host);
    check_named_threads(L"host_controller: ", before,
                        "no thread of the library's runs once hc_destroy returned");
}

/* Copies each of `files` into `folder` or, with `remove`, deletes its copy there. */
static int each_in_folder(const wchar_t* folder, const char* const* files, int count, int remove) {
    int i, ok = 1;
    size_t length = wcslen(folder);
    for (i = 0; i < count; ++i) {
        wchar_t from[MAX_PATH], to[MAX_PATH];
        MultiByteToWideChar(CP_UTF8, 0, files[i], -1, from, MAX_PATH);
        memcpy(to, folder, length * sizeof(wchar_t));
        to[length] = L'\\';
        MultiByteToWideChar(CP_UTF8, 0, strrchr(files[i], '\\') + 1, -1, to + length + 1,
                            (int)(MAX_PATH - length - 1));
        ok = ok && (remove ? DeleteFileW(to) : CopyFileW(from, to, FALSE));
    }
    return ok;
}

/* A folder, an argument and a source name outside any ANSI code page, in UTF-8. */
#define NON_ANSI "Cam\xc3\xa9ra \xe6\x9d\xb1\xe4\xba\xac \xd0\x96"

static void non_ascii_path_argument_and_source_name(void) {
    static char path[32768];
    char runtime[MAX_PATH], folder[MAX_PATH], exe[MAX_PATH], wanted[256];
    wchar_t wide_folder[MAX_PATH];
    const char* files[3];
    const char* args[2] = {"--act=echo", "--name=" NON_ANSI};
    hc_host* host = NULL;
    hc_event event;
    seen s;
    snprintf(runtime, sizeof runtime, "%sProcessing.NDI.Lib.x64.dll", sim_dir);
    files[0] = fake;
    files[1] = tivane;
    files[2] = runtime;
    GetTempPathA(MAX_PATH, folder);
    snprintf(folder + strlen(folder), sizeof folder - strlen(folder), "hc %lu " NON_ANSI,
             GetCurrentProcessId());
    MultiByteToWideChar(CP_UTF8, 0, folder, -1, wide_folder, MAX_PATH);
    CreateDirectoryW(wide_folder, NULL);
    check(each_in_folder(wide_folder, files, 3, 0), "copied into the folder", folder);

    hc_create(&host);
    snprintf(exe, sizeof exe, "%s\\controller_fake_host.exe", folder);
    check(hc_start(host, exe, args, 2, NULL, NULL) == HC_OK, "started from the folder",
          hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_OTHER) == HC_OK &&
              strstr(event.line, "--name=\\\"" NON_ANSI "\\\"") != NULL &&
              strstr(event.line, "\"inOwnFolder\":\"yes\"") != NULL,
          "the argument arrived whole, the host runs in its own folder",
          event.type == HC_EVENT_OTHER ? event.line : hc_last_error(host));
    destroy_timed(host);

    /* Tivane there finds the runtime beside itself, not on PATH. */
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", strchr(path, ';') ? strchr(path, ';') + 1 : "");
    seen_init(&s);
    hc_create(&host);
    snprintf(exe, sizeof exe, "%s\\Tivane.exe", folder);
    snprintf(wanted, sizeof wanted, "pattern:64x64@30;tag:%s", NON_ANSI);
    check(hc_start(host, exe, NULL, 0, on_event, &s) == HC_OK &&
              wait_ready_timed(host, 30000, NULL, NULL) == HC_OK &&
              hc_set_source(host, wanted, NULL) == HC_OK,
          "Tivane from the folder", hc_last_error(host));
    check(signalled(s.stats, 20000) && strcmp(s.source, wanted) == 0,
          "the source name came back byte for byte", s.source);
    destroy_timed(host);
    seen_close(&s);
    SetEnvironmentVariableA("PATH", path);
    each_in_folder(wide_folder, files, 3, 1);
    RemoveDirectoryW(wide_folder);
}

/* A caller built against an older header: the library writes nothing past its size. And
 * numbers are read the same under a locale with a decimal comma. */
static void an_event_struct_of_an_older_size(void) {
    struct {
        hc_event event;
        unsigned char after[64];
    } old;
    hc_host* host = NULL;
    hc_event event;
    size_t older = offsetof(hc_event, fps);
    size_t i;
    int untouched = 1;
    memset(&old, 0xAB, sizeof old);
    old.event.size = (unsigned)older;
    hc_create(&host);
    check(start_fake(host, "stats", NULL, NULL) == HC_OK, "start", hc_last_error(host));
    check(hc_next_event(host, 20000, &old.event) == HC_OK &&
              old.event.type == HC_EVENT_PIPE_OPENED && old.event.size == older &&
              HC_EVENT_HAS(&old.event, source) && !HC_EVENT_HAS(&old.event, fps),
          "the fields of the older struct filled", hc_last_error(host));
    for (i = older; i < sizeof old; ++i) {
        untouched = untouched && ((unsigned char*)&old)[i] == 0xAB;
    }
    check(untouched, "nothing written past its size", NULL);
    check(setlocale(LC_NUMERIC, "German") != NULL, "a locale with a decimal comma", NULL);
    check(take_until(host, &event, HC_EVENT_STATS) == HC_OK && event.fps == 29.97 &&
              event.width == 640 && HC_EVENT_HAS(&event, exit_code),
          "fps 29.97 read as 29.97", hc_last_error(host));
    setlocale(LC_NUMERIC, "C");
    destroy_timed(host);
}

/* The callback ends the host while the main thread is ending it too. */
typedef struct both_end {
    hc_host* host;
    HANDLE go;
    HANDLE exited;
    hc_result result;
    unsigned long code;
} both_end;

static void end_on_first_stats(void* user, const hc_event* event) {
    both_end* b = (both_end*)user;
    if (event->type == HC_EVENT_STATS && !signalled(b->go, 0)) {
        SetEvent(b->go);
        /* Answered only once the main thread waits inside its own hc_end. */
        SendMessageW(ui.window, EVENT_MESSAGE, HC_EVENT_OTHER, 0);
        b->result = hc_end(b->host, 10000, &b->code);
    } else if (event->type == HC_EVENT_EXITED) {
        SetEvent(b->exited);
    }
}

static void end_from_the_callback_and_another_thread_at_once(void) {
    both_end b;
    unsigned long code = 99;
    double begin, took;
    memset(&b, 0, sizeof b);
    b.go = new_event();
    b.exited = new_event();
    b.result = HC_WRONG_STATE;
    hc_create(&b.host);
    check(hc_start(b.host, tivane, NULL, 0, end_on_first_stats, &b) == HC_OK &&
              wait_ready_timed(b.host, 30000, NULL, NULL) == HC_OK &&
              hc_set_source(b.host, "pattern:64x64@30", NULL) == HC_OK,
          "started", hc_last_error(b.host));
    check(signalled(b.go, 20000), "the callback is ending it", NULL);
    begin = now_ms();
    check(end_timed(b.host, 10000, &code) == HC_OK && code == 0, "the main thread's end",
          hc_last_error(b.host));
    took = now_ms() - begin;
    printf("hc_end beside the callback's own: %.0f ms\n", took);
    check(signalled(b.exited, 0), "EXITED delivered before the main thread's end returned", NULL);
    destroy_timed(b.host);
    check(b.result == HC_OK && b.code == 0, "the callback's end", NULL);
    CloseHandle(b.go);
    CloseHandle(b.exited);
}

static void hosts_that_break_the_protocol_are_ended(void) {
    const char* at_ready[] = {"other-pid", "foreign-window"};
    hc_host* host = NULL;
    hc_event event;
    int i;
    for (i = 0; i < 2; ++i) {
        hc_create(&host);
        start_fake(host, at_ready[i], NULL, NULL);
        check(wait_ready_timed(host, 30000, NULL, NULL) == HC_HOST_FAULTY &&
                  strstr(hc_last_error(host), "host_ready named") != NULL,
              at_ready[i], hc_last_error(host));
        check(take_until(host, &event, HC_EVENT_FAULT) == HC_OK &&
                  take_until(host, &event, HC_EVENT_EXITED) == HC_OK &&
                  event.exit_code == HC_TERMINATED_EXIT_CODE,
              "a fault, then its end", NULL);
        destroy_timed(host);
    }
    hc_create(&host);
    start_fake(host, "ready-again", NULL, NULL);
    check(take_until(host, &event, HC_EVENT_FAULT) == HC_OK &&
              strstr(event.line, "host_ready again") != NULL &&
              take_until(host, &event, HC_EVENT_EXITED) == HC_OK &&
              event.exit_code == HC_TERMINATED_EXIT_CODE,
          "a second host_ready is a fault: the host is ended", NULL);
    destroy_timed(host);
    hc_create(&host);
    start_fake(host, "endless-line", NULL, NULL);
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_OK, "an endless line after ready",
          hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_FAULT) == HC_OK &&
              strstr(event.line, "65536 bytes") != NULL,
          "is a fault", hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_EXITED) == HC_OK &&
              event.exit_code == HC_TERMINATED_EXIT_CODE,
          "and the host is ended", NULL);
    destroy_timed(host);
}

static void options_reach_the_host(void) {
    hc_start_options options;
    hc_host* host = NULL;
    seen s;
    options.size = sizeof options;
    check(hc_default_start_options(&options) == HC_OK && options.end_wait_ms == 10000,
          "default options", NULL);
    /* No wait at all for the end: a host that would obey shutdown is terminated. */
    options.end_wait_ms = 0;
    seen_init(&s);
    hc_create(&host);
    check(hc_start_ex(host, fake, NULL, 0, on_event, &s, &options) == HC_OK, "start with options",
          hc_last_error(host));
    destroy_timed(host);
    check(s.exit_code == HC_TERMINATED_EXIT_CODE, "end_wait_ms reached the end", NULL);
    seen_close(&s);

    /* A size that ends inside a field takes none of it: half a pointer is no folder. */
    options.size = (unsigned)(offsetof(hc_start_options, library_folder) + 4);
    options.library_folder = "not absolute";
    hc_create(&host);
    check(hc_start_ex(host, fake, NULL, 0, NULL, NULL, &options) == HC_OK,
          "a field cut by the size is left at its default", hc_last_error(host));
    destroy_timed(host);
}

/* A picker's calls, with a callback (the same listing reaches it as an event, and a
 * request without a wait is answered by one) and with polling (against a host whose
 * second listing is short of its count). The other listing rows are C++ rows. */
static void sources_are_listed(void) {
    char list_path[MAX_PATH];
    FILE* file;
    hc_host* host = NULL;
    hc_source_list list;
    hc_event event;
    seen s;
    GetTempPathA(MAX_PATH, list_path);
    snprintf(list_path + strlen(list_path), sizeof list_path - strlen(list_path),
             "hc_sources_%lu.txt", GetCurrentProcessId());
    file = fopen(list_path, "wb");
    if (file != NULL) {
        fputs("STUDIO (Camera \"2\")\n" NON_ANSI "\n", file);
        fclose(file);
    }
    SetEnvironmentVariableA("SIM_NDI_SOURCES", list_path);
    seen_init(&s);
    hc_create(&host);
    list.size = 4;
    check(hc_list_sources(host, 0, &list) == HC_INVALID_ARGUMENT, "a list without its size", NULL);
    list.size = sizeof list;
    check(hc_start(host, tivane, NULL, 0, on_event, &s) == HC_OK &&
              wait_ready_timed(host, 30000, NULL, NULL) == HC_OK &&
              hc_list_sources(host, HC_LIST_SOURCES_WAIT_MS, &list) == HC_OK && list.count == 2 &&
              strcmp(list.names[1], NON_ANSI) == 0,
          "listed byte for byte, in order", hc_last_error(host));
    check(signalled(s.listed, 20000) && s.last_count == 2 && strcmp(s.last_name, NON_ANSI) == 0,
          "the same listing reached the callback", s.last_name);
    ResetEvent(s.listed);
    check(hc_request_sources(host) == HC_OK && signalled(s.listed, 20000) && s.listings == 2,
          "a request without a wait is answered by an event", hc_last_error(host));
    destroy_timed(host);
    seen_close(&s);
    SetEnvironmentVariableA("SIM_NDI_SOURCES", NULL);
    DeleteFileA(list_path);

    hc_create(&host);
    start_fake(host, "lister", NULL, NULL);
    check(wait_ready_timed(host, 30000, NULL, NULL) == HC_OK &&
              hc_list_sources(host, HC_LIST_SOURCES_WAIT_MS, &list) == HC_OK &&
              take_until(host, &event, HC_EVENT_SOURCES) == HC_OK && event.name_count == 2 &&
              strcmp(event.names[1], "Cam 2") == 0 && event.error[0] == '\0',
          "listed with polling, the listing as a polled event", hc_last_error(host));
    check(hc_list_sources(host, HC_LIST_SOURCES_WAIT_MS, &list) == HC_LIST_FAILED &&
              list.count == 1 && strstr(hc_last_error(host), "counted 2 sources") != NULL,
          "a listing short of its count fails, with what arrived", hc_last_error(host));
    destroy_timed(host);
}

/* Ending many hosts at once: each has its shutdown before the library waits for any of them.
 * Each fake host answers its shutdown with "ending" and then holds its end until the test
 * lets it go, which the test does only once all of them have answered: ending them one
 * after another would get no further than the first. */
#define MANY 4

typedef struct many_hosts {
    volatile LONG ending;
    HANDLE all_asked;
    HANDLE release;
    HANDLE exited[MANY];
    int all_asked_first;
} many_hosts;

typedef struct one_of_many {
    many_hosts* all;
    int index;
} one_of_many;

static void on_many_event(void* user, const hc_event* event) {
    one_of_many* one = (one_of_many*)user;
    if (event->type == HC_EVENT_OTHER && strstr(event->line, "\"ending\"") != NULL &&
        InterlockedIncrement(&one->all->ending) == MANY) {
        SetEvent(one->all->all_asked);
    } else if (event->type == HC_EVENT_EXITED && event->exit_code == 0) {
        Sleep(300); /* a callback that takes its time: hc_end_many waits for it */
        SetEvent(one->all->exited[one->index]);
    }
}

static DWORD WINAPI release_once_all_asked(LPVOID context) {
    many_hosts* m = (many_hosts*)context;
    m->all_asked_first = signalled(m->all_asked, 20000);
    SetEvent(m->release);
    return 0;
}

static void ending_many_hosts_at_once(void) {
    many_hosts m;
    one_of_many ones[MANY];
    hc_host* hosts[MANY];
    unsigned long codes[MANY];
    hc_result results[MANY];
    hc_host* idle = NULL;
    char name[64], event_option[80];
    const char* args[2];
    HANDLE releaser;
    int i, started = 1, all_zero = 1, all_exited = 1;
    memset(&m, 0, sizeof m);
    m.all_asked = new_event();
    snprintf(name, sizeof name, "hc-test-release-%lu", GetCurrentProcessId());
    m.release = CreateEventA(NULL, TRUE, FALSE, name);
    snprintf(event_option, sizeof event_option, "--event=%s", name);
    args[0] = "--act=hold-end";
    args[1] = event_option;
    for (i = 0; i < MANY; ++i) {
        ones[i].all = &m;
        ones[i].index = i;
        m.exited[i] = new_event();
        hc_create(&hosts[i]);
        started = started && hc_start(hosts[i], fake, args, 2, on_many_event, &ones[i]) == HC_OK &&
                  wait_ready_timed(hosts[i], 30000, NULL, NULL) == HC_OK;
    }
    check(started, "four hosts ready", NULL);
    releaser = CreateThread(NULL, 0, release_once_all_asked, &m, 0, NULL);
    check(hc_end_many(hosts, MANY, 30000, codes, results) == HC_OK, "all ended",
          hc_last_error(hosts[0]));
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    check(m.all_asked_first, "every host was asked before any end was waited for", NULL);
    for (i = 0; i < MANY; ++i) {
        all_zero = all_zero && codes[i] == 0 && results[i] == HC_OK;
        all_exited = all_exited && signalled(m.exited[i], 0);
    }
    check(all_zero, "each with exit code 0, none terminated", NULL);
    check(all_exited, "each EXITED delivered before hc_end_many returned", NULL);
    for (i = 0; i < MANY; ++i) {
        destroy_timed(hosts[i]);
        CloseHandle(m.exited[i]);
    }
    CloseHandle(m.all_asked);
    CloseHandle(m.release);

    hc_create(&idle);
    hosts[0] = idle;
    hosts[1] = NULL;
    check(hc_end_many(hosts, 2, 1000, codes, results) == HC_WRONG_STATE &&
              results[0] == HC_WRONG_STATE && results[1] == HC_INVALID_ARGUMENT,
          "a handle never started and a null one are told apart", NULL);
    destroy_timed(idle);
}

/* A view of the host's picture in a window of ours: the C calls and what they report (the
 * pixels are judged by the end-to-end view test). The window is left to the end of the
 * process: under Wine without a window manager, destroying a visible one takes 2 s. */
static void a_view_shows_the_picture(void) {
    static HWND window = NULL;
    hc_host* host = NULL;
    hc_view_info info;
    hc_event event;
    if (window == NULL) {
        window = CreateWindowExW(0, L"CApiTestUi", L"", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, NULL,
                                 NULL, GetModuleHandleW(NULL), NULL);
    }
    hc_create(&host);
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    check(hc_view_show(host, window, 0, 0, 400, 400, 0) == HC_WRONG_STATE &&
              hc_view_get(host, &info) == HC_OK && info.way == HC_VIEW_NONE,
          "no view before host_ready", hc_last_error(host));
    check(hc_start(host, tivane, NULL, 0, NULL, NULL) == HC_OK &&
              hc_wait_ready(host, 30000, NULL, NULL) == HC_OK &&
              hc_set_source(host, "pattern:320x180@30;still", NULL) == HC_OK &&
              hc_view_show(host, window, 0, 0, 400, 400, 0) == HC_OK,
          "shown", hc_last_error(host));
    /* The host answers window_size at once (0 x 0 before its first frame), then tells
     * each new frame size. */
    while (take_until(host, &event, HC_EVENT_FRAME_SIZE) == HC_OK && event.width == 0) {
    }
    check(event.type == HC_EVENT_FRAME_SIZE && event.width == 320 && event.height == 180,
          "the frame size came as an event", event.line);
    hc_view_get(host, &info);
    check((info.way == HC_VIEW_OWNED_WINDOW || info.way == HC_VIEW_THUMBNAIL) && info.visible &&
              info.left == 0 && info.top == 87 && info.right == 400 && info.bottom == 312 &&
              info.frame_width == 320 && info.frame_height == 180,
          "letterboxed, by a way Wine has or by a thumbnail", NULL);
    check(hc_view_show(host, window, 0, 0, 400, 400, HC_VIEW_FILL) == HC_OK &&
              hc_view_get(host, &info) == HC_OK && info.top == 0 && info.bottom == 400,
          "filled on request", hc_last_error(host));
    check(hc_view_show(host, window, 0, 0, 400, 400,
                       HC_VIEW_NO_THUMBNAIL | HC_VIEW_NO_OWNED_WINDOW | HC_VIEW_NO_CHILD_WINDOW) ==
              HC_INVALID_ARGUMENT,
          "every way excluded", hc_last_error(host));
    check(hc_view_hide(host) == HC_OK && hc_view_get(host, &info) == HC_OK && !info.visible &&
              info.way != HC_VIEW_NONE,
          "hidden, still held", NULL);
    check(hc_view_close(host) == HC_OK && hc_view_get(host, &info) == HC_OK &&
              info.way == HC_VIEW_NONE,
          "given back", NULL);
    info.size = 4;
    info.way = (hc_view_way)77;
    check(hc_view_get(host, &info) == HC_OK && info.size == 4 && info.way == (hc_view_way)77,
          "nothing written past an older size", NULL);
    destroy_timed(host);
}

/* What C++ has and C lacked: the process right after the start, termination, the count of
 * dropped events, and the host's own variables and library folder. */
static void process_termination_dropped_events_and_the_hosts_environment(void) {
    hc_start_options options;
    hc_process_info info;
    hc_event event;
    hc_host* host = NULL;
    unsigned long long dropped = 0;
    unsigned long pid = 0;
    const char* variables[] = {"HC_TEST_VARIABLE=" NON_ANSI};
    const char* bad_variables[] = {"NO_VALUE"};
    const char* flood[] = {"--act=flood"};
    const char* echo[] = {"--act=echo"};
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE ours_read = NULL, ours_write = NULL;
    DWORD available = 0;
    char folder[MAX_PATH + 8];
    char escaped_folder[2 * MAX_PATH + 16];
    char* at = escaped_folder;
    const char* from;
    int i;
    options.size = sizeof options;
    hc_default_start_options(&options);
    options.max_queued_events = 8;
    hc_create(&host);
    check(hc_start_ex(host, fake, flood, 1, NULL, NULL, &options) == HC_OK, "start",
          hc_last_error(host));
    info.size = sizeof info;
    check(hc_get_process(host, &info) == HC_OK && info.process_id != 0 &&
              GetProcessId((HANDLE)info.process_handle) == info.process_id,
          "the process and its handle right after the start", NULL);
    check(wait_ready_timed(host, 30000, NULL, &pid) == HC_OK && pid == info.process_id,
          "the same process in host_ready", hc_last_error(host));
    for (i = 0; i < 200 && hc_dropped_events(host, &dropped) == HC_OK && dropped < 150; ++i) {
        Sleep(100);
    }
    check(dropped >= 150, "the stats nobody took were dropped and counted", NULL);
    check(hc_terminate(host, 77) == HC_OK &&
              WaitForSingleObject((HANDLE)info.process_handle, 0) == WAIT_OBJECT_0,
          "terminated", hc_last_error(host));
    check(take_until(host, &event, HC_EVENT_EXITED) == HC_OK && event.exit_code == 77,
          "EXITED with the code given", NULL);
    destroy_timed(host);

    /* Not the folder that this test put first on PATH for every host. */
    snprintf(folder, sizeof folder, "%sboth", sim_dir);
    options.library_folder = folder;
    options.environment = variables;
    options.environment_count = 1;
    hc_create(&host);
    /* An inheritable pipe of ours: once we close our writing end, it breaks unless the host
     * holds a copy. */
    CreatePipe(&ours_read, &ours_write, &inheritable, 0);
    check(hc_start_ex(host, fake, echo, 1, NULL, NULL, &options) == HC_OK, "start with variables",
          hc_last_error(host));
    CloseHandle(ours_write);
    check(!PeekNamedPipe(ours_read, NULL, 0, NULL, &available, NULL) &&
              GetLastError() == ERROR_BROKEN_PIPE,
          "none of our inheritable handles went across", NULL);
    CloseHandle(ours_read);
    for (from = folder; *from != '\0'; ++from) {
        if (*from == '\\') {
            *at++ = '\\';
        }
        *at++ = *from;
    }
    *at = '\0';
    check(take_until(host, &event, HC_EVENT_OTHER) == HC_OK &&
              strstr(event.line, "\"variable\":\"" NON_ANSI "\"") != NULL,
          "the host's own variable", event.line);
    from = strstr(event.line, "\"path\":\"");
    check(from != NULL && strncmp(from + 8, escaped_folder, strlen(escaped_folder)) == 0,
          "the library folder first on the host's PATH", event.line);
    destroy_timed(host);

    options.environment = bad_variables;
    hc_create(&host);
    check(hc_start_ex(host, fake, echo, 1, NULL, NULL, &options) == HC_INVALID_ARGUMENT,
          "a variable without a value is refused", NULL);
    options.environment_count = 0;
    options.library_folder = "sim";
    check(hc_start_ex(host, fake, echo, 1, NULL, NULL, &options) == HC_INVALID_ARGUMENT,
          "a relative library folder is refused", NULL);
    destroy_timed(host);
}

static void make_ui_window(void) {
    WNDCLASSW window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = ui_proc;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.lpszClassName = L"CApiTestUi";
    RegisterClassW(&window_class);
    ui.window = CreateWindowExW(0, L"CApiTestUi", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                window_class.hInstance, NULL);
    ui.entered = new_event();
    ui.held = new_event();
    ui.release = new_event();
}

int main(int argc, char** argv) {
    static char path[32768];
    static char search_path[32768 + MAX_PATH];
    struct {
        const char* name;
        void (*run)(void);
    } rows[] = {
        {"callbacks drive a whole life", callbacks_drive_a_whole_life},
        {"polling sees events in order; nothing is sent after the end",
         polling_sees_events_in_order_and_nothing_is_sent_after_the_end},
        {"failures are told", failures_are_told},
        {"executables that are not absolute .exe paths are refused",
         executables_that_are_not_absolute_exe_paths_are_refused},
        {"a failed start changes nothing", a_failed_start_changes_nothing},
        {"ending from a UI thread that events are sent to",
         ending_from_a_ui_thread_that_events_are_sent_to},
        {"destroy while another thread waits for ready",
         destroy_while_another_thread_waits_for_ready},
        {"destroy in another thread's message waits for the callback",
         destroy_in_another_threads_message_waits_for_the_callback},
        {"a call that a nested destroy ended returns no pointers",
         a_call_that_a_nested_destroy_ended_returns_no_pointers},
        {"a chatty child of the host holds nothing up",
         a_chatty_child_of_the_host_holds_nothing_up},
        {"non-ASCII path, argument and source name", non_ascii_path_argument_and_source_name},
        {"an event struct of an older size", an_event_struct_of_an_older_size},
        {"end from the callback and another thread at once",
         end_from_the_callback_and_another_thread_at_once},
        {"hosts that break the protocol are ended", hosts_that_break_the_protocol_are_ended},
        {"options reach the host", options_reach_the_host},
        {"sources are listed", sources_are_listed},
        {"ending many hosts at once", ending_many_hosts_at_once},
        {"process, termination, dropped events and the host's environment",
         process_termination_dropped_events_and_the_hosts_environment},
        {"a view shows the picture", a_view_shows_the_picture},
    };
    size_t i;
    char* slash;
    DWORD length = GetModuleFileNameA(NULL, bin_dir, MAX_PATH);
    bin_dir[length < MAX_PATH ? length : MAX_PATH - 1] = '\0';
    slash = strrchr(bin_dir, '\\');
    if (slash) {
        slash[1] = '\0';
    }
    snprintf(tivane, sizeof tivane, "%sTivane.exe", bin_dir);
    snprintf(fake, sizeof fake, "%scontroller_fake_host.exe", bin_dir);
    snprintf(sim_dir, sizeof sim_dir, "%s..\\sim\\", bin_dir);
    if (GetFileAttributesA(tivane) == INVALID_FILE_ATTRIBUTES) {
        printf("Tivane.exe not built: nothing to test\n0 passed, 0 failed\n");
        return 0;
    }
    /* The simulated runtime first on the search path the hosts inherit. */
    GetEnvironmentVariableA("PATH", path, sizeof path);
    snprintf(search_path, sizeof search_path, "%s;%s", sim_dir, path);
    SetEnvironmentVariableA("PATH", search_path);
    make_ui_window();
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        if (argc > 1 && strstr(rows[i].name, argv[1]) == NULL) {
            continue; /* a row of one's choice: controller_c_api_test.exe "older size" */
        }
        printf("== %s\n", rows[i].name);
        rows[i].run();
    }
    printf("longest hc_end %.0f ms (bound: wait_ms + 13 s), longest hc_destroy %.0f ms\n",
           longest_end_ms, longest_destroy_ms);
    printf(
        "longest hc_wait_ready %.0f ms, at most %.0f ms past its timeout (bound: 2 s past "
        "it); longest hc_get_startup_failure %.0f ms (bound: 1 s)\n",
        longest_ready_ms, longest_ready_past_ms, longest_startup_ms);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
