/* embed_example: the controller library's C interface in one small program. Starts a
 * host, receives one source for five seconds while printing what the host reports, then
 * ends the host and exits with its exit code.
 *   embed_example HOST.exe SOURCE [QUALITY]
 * The library takes UTF-8 and an absolute path to the host, so the arguments are read as
 * UTF-16 and converted, and HOST.exe is made absolute against the current folder. */
#include <stdio.h>
#include <stdlib.h>

#include <windows.h>

#include <shellapi.h>

#include "host_controller.h"

static void on_event(void* user, const hc_event* event) {
    (void)user;
    switch (event->type) {
        case HC_EVENT_STATUS:
            printf("status %s '%s'\n", event->state, event->source);
            break;
        case HC_EVENT_STATS:
            printf("stats %.2f fps, %dx%d\n", event->fps, event->width, event->height);
            break;
        case HC_EVENT_FAULT:
            printf("host ended for breaking the protocol: %s\n", event->line);
            break;
        case HC_EVENT_EXITED:
            printf("host exited with code %lu\n", event->exit_code);
            break;
        default: /* types added later land here too */
            break;
    }
    fflush(stdout);
}

/* Argument `index` as UTF-8 (made absolute when `absolute`); NULL when there is none. */
static char* utf8_argument(int index, int absolute) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t full[MAX_PATH];
    const wchar_t* text;
    char* utf8 = NULL;
    DWORD length;
    int size;
    if (wide == NULL || index >= count) {
        LocalFree(wide);
        return NULL;
    }
    text = wide[index];
    length = absolute ? GetFullPathNameW(text, MAX_PATH, full, NULL) : 0;
    if (length > 0 && length < MAX_PATH) {
        text = full;
    }
    size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    utf8 = size > 0 ? (char*)malloc((size_t)size) : NULL;
    if (utf8 != NULL) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, NULL, NULL);
    }
    LocalFree(wide);
    return utf8;
}

int main(int argc, char** argv) {
    hc_host* host = NULL;
    long long window = 0;
    unsigned long process_id = 0;
    unsigned long exit_code = 1;
    char* executable = utf8_argument(1, 1);
    char* source = utf8_argument(2, 0);
    (void)argv;
    if (argc < 3 || executable == NULL || source == NULL) {
        fprintf(stderr, "usage: embed_example HOST.exe SOURCE [QUALITY]\n");
        return 2;
    }
    if (hc_create(&host) != HC_OK) {
        return 1;
    }
    if (hc_start(host, executable, NULL, 0, on_event, NULL) != HC_OK ||
        hc_wait_ready(host, 10000, &window, &process_id) != HC_OK) {
        fprintf(stderr, "the host did not start: %s\n", hc_last_error(host));
        hc_exit_code(host, &exit_code);
        hc_destroy(host);
        return (int)exit_code;
    }
    /* (HWND)(intptr_t)window is the host's window: see docs/embedding.md. */
    printf("host %lu ready, window %lld\n", process_id, window);
    if (hc_set_source(host, source, argc > 3 ? argv[3] : NULL) != HC_OK) {
        fprintf(stderr, "set_source: %s\n", hc_last_error(host));
    }
    Sleep(5000);
    hc_end(host, 10000, &exit_code);
    hc_destroy(host);
    free(executable);
    free(source);
    return (int)exit_code;
}
