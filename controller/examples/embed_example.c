/* embed_example: the controller library's C interface in one small program. Starts a
 * host, receives one source for five seconds while printing what the host reports, then
 * ends the host and exits with its exit code.
 *   embed_example HOST.exe SOURCE [QUALITY] */
#include <stdio.h>

#include <windows.h>

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
        case HC_EVENT_EXITED:
            printf("host exited with code %lu\n", event->exit_code);
            break;
        default:
            break;
    }
    fflush(stdout);
}

int main(int argc, char** argv) {
    hc_host* host = NULL;
    long long window = 0;
    unsigned long process_id = 0;
    unsigned long exit_code = 1;
    if (argc < 3) {
        fprintf(stderr, "usage: embed_example HOST.exe SOURCE [QUALITY]\n");
        return 2;
    }
    if (hc_create(&host) != HC_OK) {
        return 1;
    }
    if (hc_start(host, argv[1], NULL, 0, on_event, NULL) != HC_OK ||
        hc_wait_ready(host, 10000, &window, &process_id) != HC_OK) {
        fprintf(stderr, "the host did not start: %s\n", hc_last_error(host));
        hc_exit_code(host, &exit_code);
        hc_destroy(host);
        return (int)exit_code;
    }
    printf("host %lu ready, window %lld\n", process_id, window);
    if (hc_set_source(host, argv[2], argc > 3 ? argv[3] : NULL) != HC_OK) {
        fprintf(stderr, "set_source: %s\n", hc_last_error(host));
    }
    Sleep(5000);
    hc_end(host, 10000, &exit_code);
    hc_destroy(host);
    return (int)exit_code;
}
