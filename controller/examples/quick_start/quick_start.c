/* quick_start: starts a host, receives one source for five seconds while printing what
 * the host reports, then ends the host and exits with its exit code.
 *   quick_start HOST.exe SOURCE [LIBRARY_FOLDER]
 * HOST.exe with its absolute path (C:\Hosts\Tivane.exe); LIBRARY_FOLDER is where the host
 * finds its receiving library when it is not beside the host (the NDI runtime's folder,
 * say). The library takes UTF-8: plain ASCII arguments are that already (embed_example.c
 * shows any text). */
#include <stdio.h>

#include <windows.h>

#include "host_controller.h"

static void on_event(void* user, const hc_event* event) {
    (void)user;
    if (event->type == HC_EVENT_STATUS) {
        printf("status %s '%s'\n", event->state, event->source);
    } else if (event->type == HC_EVENT_STATS) {
        printf("stats %.2f fps, %dx%d\n", event->fps, event->width, event->height);
    } else if (event->type == HC_EVENT_EXITED) {
        printf("host exited with code %lu\n", event->exit_code);
    }
    fflush(stdout);
}

int main(int argc, char** argv) {
    hc_version_info version = {sizeof version};
    hc_start_options options = {sizeof options};
    hc_host* host = NULL;
    unsigned long exit_code = 1;
    if (argc < 3) {
        fprintf(stderr, "usage: quick_start HOST.exe SOURCE [LIBRARY_FOLDER]\n");
        return 2;
    }
    hc_get_version(&version);
    printf("host_controller %u.%u.%u\n", version.version_major, version.version_minor,
           version.version_patch);
    hc_default_start_options(&options);
    options.library_folder = argc > 3 ? argv[3] : NULL;
    if (hc_create(&host) != HC_OK) {
        return 1;
    }
    if (hc_start_ex(host, argv[1], NULL, 0, on_event, NULL, &options) != HC_OK ||
        hc_wait_ready(host, 10000, NULL, NULL) != HC_OK) {
        /* Why, in the host's own words when it could not start: a library not found, no
         * Direct3D 11 device... */
        fprintf(stderr, "no host: %s\n", hc_last_error(host));
        hc_destroy(host);
        return 1;
    }
    if (hc_set_source(host, argv[2], NULL) != HC_OK) {
        fprintf(stderr, "set_source: %s\n", hc_last_error(host));
    }
    Sleep(5000); /* your application runs; the host shows the source in its window */
    hc_end(host, 10000, &exit_code);
    hc_destroy(host);
    return (int)exit_code;
}
