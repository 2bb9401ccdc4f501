/* The controller's C interface, driven from C through host_controller.dll as another
 * language would call it: a Tivane on the simulated runtime through callbacks (frames, a
 * quality change, the end with 0), the same through hc_next_event, and the failures a C
 * caller must be told about. Prints one line per check and "N passed, M failed". */
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "host_controller.h"

static int passed = 0;
static int failed = 0;

static void check(int ok, const char* what, const char* detail) {
    if (ok) {
        ++passed;
        printf("PASS %s\n", what);
    } else {
        ++failed;
        printf("FAIL %s (%s)\n", what, detail ? detail : "");
    }
    fflush(stdout);
}

static char bin_dir[MAX_PATH];

static void path_of(const char* file, char* out, size_t size) {
    snprintf(out, size, "%s%s", bin_dir, file);
}

/* What the callback saw; the events are set on the library's callback thread. */
typedef struct seen {
    HANDLE full_size; /* stats with the source's width */
    HANDLE low_size;  /* stats with the low quality's width */
    HANDLE exited;
    int first_type;
    int events;
    unsigned long exit_code;
    char last_state[32];
} seen;

static void on_event(void* user, const hc_event* event) {
    seen* s = (seen*)user;
    if (s->events++ == 0) {
        s->first_type = (int)event->type;
    }
    if (event->type == HC_EVENT_STATUS) {
        snprintf(s->last_state, sizeof s->last_state, "%s", event->state);
    } else if (event->type == HC_EVENT_STATS && event->width == 320) {
        SetEvent(s->full_size);
    } else if (event->type == HC_EVENT_STATS && event->width == 160) {
        SetEvent(s->low_size);
    } else if (event->type == HC_EVENT_EXITED) {
        s->exit_code = event->exit_code;
        SetEvent(s->exited);
    }
}

static void callbacks_drive_a_whole_life(const char* tivane) {
    seen s;
    hc_host* host = NULL;
    long long window = 0;
    unsigned long pid = 0;
    unsigned long code = 99;
    const char* args[] = {"--quality=high"};
    memset(&s, 0, sizeof s);
    s.first_type = -1;
    s.full_size = CreateEventW(NULL, TRUE, FALSE, NULL);
    s.low_size = CreateEventW(NULL, TRUE, FALSE, NULL);
    s.exited = CreateEventW(NULL, TRUE, FALSE, NULL);
    check(hc_create(&host) == HC_OK, "create", NULL);
    check(hc_start(host, tivane, args, 1, on_event, &s) == HC_OK, "start", hc_last_error(host));
    check(hc_wait_ready(host, 30000, &window, &pid) == HC_OK && window != 0 && pid != 0,
          "host_ready with window and process id", hc_last_error(host));
    check(hc_next_event(host, 0, NULL) == HC_INVALID_ARGUMENT, "no polling beside a callback",
          NULL);
    check(hc_set_source(host, "pattern:320x180@30", NULL) == HC_OK, "set_source",
          hc_last_error(host));
    check(WaitForSingleObject(s.full_size, 20000) == WAIT_OBJECT_0, "stats at 320 wide", NULL);
    check(hc_set_quality(host, "low") == HC_OK, "set_quality", hc_last_error(host));
    check(WaitForSingleObject(s.low_size, 20000) == WAIT_OBJECT_0, "stats at 160 wide", NULL);
    check(hc_end(host, 20000, &code) == HC_OK && code == 0, "end with exit code 0",
          hc_last_error(host));
    check(WaitForSingleObject(s.exited, 0) == WAIT_OBJECT_0 && s.exit_code == 0,
          "the exit came through the callback before hc_end returned", NULL);
    check(s.first_type == HC_EVENT_PIPE_OPENED, "the pipe's opening came first", NULL);
    check(strcmp(s.last_state, "disconnected") == 0, "the last status is disconnected",
          s.last_state);
    check(hc_shutdown(host) == HC_PIPE_CLOSED && hc_last_error(host)[0] != '\0',
          "no command after the end", hc_last_error(host));
    hc_destroy(host);
    CloseHandle(s.full_size);
    CloseHandle(s.low_size);
    CloseHandle(s.exited);
}

static void polling_sees_events_in_order(const char* tivane) {
    hc_host* host = NULL;
    hc_event event;
    int types[3] = {-1, -1, -1};
    int i;
    hc_result taken = HC_OK;
    hc_create(&host);
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
    while ((taken = hc_next_event(host, 20000, &event)) == HC_OK && event.type != HC_EVENT_EXITED) {
    }
    check(taken == HC_OK && event.exit_code == 0, "exited with 0", hc_last_error(host));
    check(hc_next_event(host, 0, &event) == HC_NO_MORE_EVENTS, "nothing after the exit", NULL);
    hc_destroy(host);
}

static void failures_are_told(const char* tivane) {
    hc_host* host = NULL;
    unsigned long code = 0;
    char missing[MAX_PATH];
    static char path[32768];
    static char bare[32768];
    const char* sim;
    check(hc_set_source(NULL, "A", NULL) == HC_INVALID_ARGUMENT, "a null handle", NULL);
    hc_create(&host);
    check(hc_shutdown(host) == HC_WRONG_STATE, "a command before the start", NULL);
    check(hc_exit_code(host, &code) == HC_WRONG_STATE, "no exit code before the start", NULL);
    path_of("NoSuchHost.exe", missing, sizeof missing);
    check(hc_start(host, missing, NULL, 0, NULL, NULL) == HC_LAUNCH_FAILED &&
              strstr(hc_last_error(host), "NoSuchHost.exe") != NULL,
          "a missing program, named in the reason", hc_last_error(host));
    hc_destroy(host);

    /* Tivane without its runtime: exit code 1 before the pipe is opened. */
    GetEnvironmentVariableA("PATH", path, sizeof path);
    sim = strchr(path, ';');
    snprintf(bare, sizeof bare, "%s", sim ? sim + 1 : "");
    SetEnvironmentVariableA("PATH", bare);
    hc_create(&host);
    check(hc_start(host, tivane, NULL, 0, NULL, NULL) == HC_OK, "start without the runtime",
          hc_last_error(host));
    check(hc_wait_ready(host, 30000, NULL, NULL) == HC_EXITED_BEFORE_PIPE &&
              strstr(hc_last_error(host), "exited with code 1") != NULL,
          "exited before the pipe, with the reason", hc_last_error(host));
    check(hc_exit_code(host, &code) == HC_OK && code == 1, "exit code 1", NULL);
    check(hc_set_source(host, "", NULL) == HC_INVALID_ARGUMENT, "an empty source name", NULL);
    hc_destroy(host);
    SetEnvironmentVariableA("PATH", path);
}

int main(void) {
    static char path[32768];
    static char search_path[32768 + MAX_PATH];
    char tivane[MAX_PATH];
    char* slash;
    DWORD length = GetModuleFileNameA(NULL, bin_dir, MAX_PATH);
    bin_dir[length < MAX_PATH ? length : MAX_PATH - 1] = '\0';
    slash = strrchr(bin_dir, '\\');
    if (slash) {
        slash[1] = '\0';
    }
    path_of("Tivane.exe", tivane, sizeof tivane);
    if (GetFileAttributesA(tivane) == INVALID_FILE_ATTRIBUTES) {
        printf("Tivane.exe not built: nothing to test\n0 passed, 0 failed\n");
        return 0;
    }
    /* The simulated runtime first on the search path the hosts inherit. */
    GetEnvironmentVariableA("PATH", path, sizeof path);
    snprintf(search_path, sizeof search_path, "%s..\\sim;%s", bin_dir, path);
    SetEnvironmentVariableA("PATH", search_path);

    callbacks_drive_a_whole_life(tivane);
    polling_sees_events_in_order(tivane);
    failures_are_told(tivane);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
