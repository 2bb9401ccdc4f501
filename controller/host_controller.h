/* host_controller.h: the controller library's plain C interface, for C programs and for
 * other languages through their foreign-function interface (host_controller.dll).
 *
 * One opaque hc_host per receiver host. Every function returns an hc_result; on failure
 * hc_last_error gives a one-line reason. Functions may be called from any thread; the
 * event callback runs on a thread of the library, one event at a time, in order.
 *
 * Lifetime: hc_create, hc_start, hc_wait_ready, commands..., hc_end, hc_destroy.
 * hc_destroy ends a host that still runs as hc_end does (shutdown, a bounded wait, then
 * termination). Strings in an hc_event are valid only during the callback, or until the
 * next hc_next_event on the same handle. */
#ifndef HOST_CONTROLLER_H
#define HOST_CONTROLLER_H

#if defined(HC_STATIC)
#define HC_API
#elif defined(HC_BUILDING_DLL)
#define HC_API __declspec(dllexport)
#else
#define HC_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hc_host hc_host;

typedef enum hc_result {
    HC_OK = 0,
    HC_INVALID_ARGUMENT = 1,   /* a null pointer, an empty name, a NUL byte in a value */
    HC_WRONG_STATE = 2,        /* not started, started twice, pipe not open yet */
    HC_PIPE_NAME_TAKEN = 3,    /* another server already has a pipe of that name */
    HC_PIPE_FAILED = 4,        /* the pipe could not be made */
    HC_LAUNCH_FAILED = 5,      /* the host could not be started or put in its job */
    HC_EXITED_BEFORE_PIPE = 6, /* the host ended without opening the pipe */
    HC_EXITED_BEFORE_READY = 7,
    HC_PIPE_NEVER_OPENED = 8, /* hc_wait_ready ran out before the host opened the pipe */
    HC_READY_TIMED_OUT = 9,   /* the host opened the pipe but sent no host_ready in time */
    HC_PIPE_CLOSED = 10,
    HC_WRITE_FAILED = 11,
    HC_WRITE_TIMED_OUT = 12,
    HC_TIMED_OUT = 13,      /* hc_next_event: no event within the time */
    HC_NO_MORE_EVENTS = 14, /* hc_next_event: EXITED has been taken */
    HC_OUT_OF_MEMORY = 15
} hc_result;

typedef enum hc_event_type {
    HC_EVENT_PIPE_OPENED = 0,
    HC_EVENT_READY = 1,        /* window, process_id */
    HC_EVENT_STATUS = 2,       /* state, source */
    HC_EVENT_STATS = 3,        /* fps, width, height */
    HC_EVENT_OTHER = 4,        /* a line of another type: line */
    HC_EVENT_UNTERMINATED = 5, /* bytes after the host's last LF: line */
    HC_EVENT_EXITED = 6        /* exit_code; always the last event */
} hc_event_type;

typedef struct hc_event {
    hc_event_type type;
    double received_ms;       /* since hc_start */
    const char* line;         /* the line as the host wrote it, "" for PIPE_OPENED and EXITED */
    const char* state;        /* STATUS: connecting, connected, reconnecting, disconnected, error */
    const char* source;       /* STATUS: source name, error text, or "" */
    double fps;               /* STATS */
    int width;                /* STATS */
    int height;               /* STATS */
    long long window;         /* READY: the host window's handle (an HWND) as a number */
    unsigned long process_id; /* READY */
    unsigned long exit_code;  /* EXITED */
} hc_event;

typedef void (*hc_event_callback)(void* user, const hc_event* event);

/* Allocates a handle; *host is NULL when memory runs out. */
HC_API hc_result hc_create(hc_host** host);
/* Ends the host if it still runs (as hc_end with 10 s) and frees the handle. NULL is
 * ignored. Allowed inside the handle's own callback; no callback follows it. */
HC_API void hc_destroy(hc_host* host);

/* Starts `executable` with --pipeName=<an unguessable name> followed by `args`
 * (arg_count strings such as "--quality=low"). With a callback, every event goes to it;
 * with NULL, take events with hc_next_event. */
HC_API hc_result hc_start(hc_host* host, const char* executable, const char* const* args,
                          int arg_count, hc_event_callback callback, void* user);
/* Waits at most timeout_ms for host_ready; window and process_id may be NULL. */
HC_API hc_result hc_wait_ready(hc_host* host, unsigned timeout_ms, long long* window,
                               unsigned long* process_id);
/* Without a callback: the next event within timeout_ms (0xFFFFFFFF: no limit). */
HC_API hc_result hc_next_event(hc_host* host, unsigned timeout_ms, hc_event* event);

/* quality may be NULL: the command then carries none. */
HC_API hc_result hc_set_source(hc_host* host, const char* name, const char* quality);
HC_API hc_result hc_set_quality(hc_host* host, const char* quality);
HC_API hc_result hc_shutdown(hc_host* host);
/* shutdown, at most wait_ms for the host's end, then termination (exit code 124).
 * exit_code may be NULL. */
HC_API hc_result hc_end(hc_host* host, unsigned wait_ms, unsigned long* exit_code);

/* HC_OK and the host's exit code once it has ended; HC_WRONG_STATE while it runs. */
HC_API hc_result hc_exit_code(hc_host* host, unsigned long* exit_code);

/* The reason for the last failure on this handle, "" after a success. Valid until the
 * next call on the handle. */
HC_API const char* hc_last_error(hc_host* host);

#ifdef __cplusplus
}
#endif

#endif /* HOST_CONTROLLER_H */
