/* host_controller.h: the controller library's plain C interface, for C programs and for
 * other languages through their foreign-function interface (host_controller.dll). This
 * header is all an application includes; it needs nothing but <stddef.h>.
 *
 * One opaque hc_host per receiver host. Lifetime: hc_create, hc_start (or hc_start_ex),
 * hc_wait_ready, commands..., hc_end, hc_destroy.
 *
 * Text: every string given to the library or received from it is UTF-8, paths and
 * arguments included; the library calls the system's wide functions, so any character
 * survives. Source names and qualities go to the host byte for byte.
 *
 * Results: every function returns an hc_result and lists below the results it can give.
 * hc_last_error and hc_last_system_error tell the calling thread about its own last call
 * on the handle; hc_result_text names a result.
 *
 * Threads: any function may be called from any thread, and calls on one handle may
 * overlap; each holds the handle for its whole length. Events go either to a callback or
 * to one polling thread (hc_next_event), never both. The callback runs on a thread of the
 * library, one event at a time, in order; it may call any function on its own handle,
 * hc_destroy included. Waits inside hc_wait_ready, hc_get_startup_failure,
 * hc_list_sources, hc_end, hc_end_many, hc_terminate and hc_destroy dispatch the messages
 * that other threads send to the waiting thread (posted messages and input stay queued),
 * so a callback may hand events to a user-interface thread with SendMessage while that
 * thread waits in the library; your window procedure may then run inside those calls and
 * may call the library there too. The library's threads are named "host_controller: ..."
 * where the system keeps thread names.
 *
 * Waits: every wait of the library's own is bounded; the bounds are given with each
 * function. HC_WAIT_FOREVER, where a function takes a time, lifts that limit on request.
 * The one wait without a limit is hc_destroy's wait for your callback to return from the
 * event it is handling: that is your code.
 *
 * A host that floods: a line over HC_MAX_LINE_BYTES, a host_ready that names another
 * process or window, or a second host_ready ends the host (HC_EVENT_FAULT, then EXITED with
 * HC_TERMINATED_EXIT_CODE). Past max_queued_events waiting events the oldest STATUS,
 * STATS and OTHER events, and source listings that nobody asked for, are dropped
 * (hc_dropped_events counts them); a listing that answers hc_list_sources or
 * hc_request_sources is never dropped, and one listing keeps at most 16 MiB of names. So
 * what a host makes the library keep is bounded whatever it writes, while your
 * application takes no events at all.
 *
 * Growth: structs the library fills or reads begin with `size`, which the caller sets to
 * sizeof the struct it knows; the library reads or fills no byte beyond it and fills
 * `size` with what it filled; a size that ends inside a field takes none of that field.
 * Fields are only ever appended, so a program built against
 * an older header keeps working with a newer library and the other way round (test a
 * field with HC_EVENT_HAS). Event types and results may be added: treat unknown ones as
 * you would HC_EVENT_OTHER and a failure. hc_get_version says which interface the
 * library has. */
#ifndef HOST_CONTROLLER_H
#define HOST_CONTROLLER_H

#include <stddef.h>

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

/* The interface this header describes; hc_get_version gives the library's. Version 1 had
 * no size members, no hc_start_ex and one error text per handle. Version 2 had no source
 * listing (hc_list_sources, hc_request_sources, HC_EVENT_SOURCES), no start-up failure
 * reasons, no hc_end_many, hc_get_process, hc_terminate or hc_dropped_events, and no
 * library folder or environment in hc_start_options. Version 3 had no view (hc_view_show,
 * hc_view_hide, hc_view_close, hc_view_get) and no HC_EVENT_FRAME_SIZE. */
#define HC_INTERFACE_VERSION 4

/* A time limit that means no limit. */
#define HC_WAIT_FOREVER 0xFFFFFFFFu
/* The bound of one line from the host: a host that writes more without a line feed is
 * ended (HC_EVENT_FAULT). */
#define HC_MAX_LINE_BYTES 65536u
/* The exit code of a host that the library had to terminate. */
#define HC_TERMINATED_EXIT_CODE 124u
/* A time limit for hc_list_sources: a host cuts its library's discovery call off after
 * 2.5 s and answers with an error, and a list of a few thousand names fits in the rest
 * (the answer takes longer the more names there are: 10,000 took about 3 s under Wine). */
#define HC_LIST_SOURCES_WAIT_MS 5000u

typedef struct hc_host hc_host;

typedef enum hc_result {
    HC_OK = 0,
    HC_INVALID_ARGUMENT = 1,   /* a null pointer, an empty name, a NUL byte, not UTF-8, a
                                  size member too small, an executable that is not an
                                  absolute path to a .exe */
    HC_WRONG_STATE = 2,        /* not started, started already, events go to a callback,
                                  the host has not opened the pipe yet or has not ended */
    HC_PIPE_NAME_TAKEN = 3,    /* not returned by this interface (C++ only) */
    HC_PIPE_FAILED = 4,        /* the pipe could not be made */
    HC_LAUNCH_FAILED = 5,      /* the host could not be started or put in its job */
    HC_EXITED_BEFORE_PIPE = 6, /* the host ended without opening the pipe */
    HC_EXITED_BEFORE_READY = 7,
    HC_PIPE_NEVER_OPENED = 8, /* hc_wait_ready ran out before the host opened the pipe */
    HC_READY_TIMED_OUT = 9,   /* the host opened the pipe but sent no host_ready in time */
    HC_PIPE_CLOSED = 10,      /* the host has ended or closed the pipe: nothing was sent */
    HC_WRITE_FAILED = 11,     /* the system refused the write (hc_last_system_error) */
    HC_WRITE_TIMED_OUT = 12,  /* the host did not take the command in time */
    HC_TIMED_OUT = 13,        /* hc_next_event: no event within the time */
    HC_NO_MORE_EVENTS = 14,   /* hc_next_event: EXITED has been taken */
    HC_OUT_OF_MEMORY = 15,
    HC_HOST_FAULTY = 16,   /* the host broke the protocol and the library ended it: its
                             host_ready named another process or a window not its own, or
                             it wrote a line over HC_MAX_LINE_BYTES */
    HC_LIST_FAILED = 17,   /* the host answered without a list, or without a whole one:
                              hc_last_error has its reason */
    HC_LIST_TIMED_OUT = 18 /* no answer to list_sources in time: a host older than source
                              listing ignores the request */
} hc_result;

typedef enum hc_event_type {
    HC_EVENT_PIPE_OPENED = 0,
    HC_EVENT_READY = 1,        /* window, process_id (checked: the started host's own) */
    HC_EVENT_STATUS = 2,       /* state, source */
    HC_EVENT_STATS = 3,        /* fps, width, height */
    HC_EVENT_OTHER = 4,        /* a line of another type: line */
    HC_EVENT_UNTERMINATED = 5, /* bytes after the host's last LF: line */
    HC_EVENT_EXITED = 6,       /* exit_code; always the last event */
    HC_EVENT_FAULT = 7,        /* the library ended the host for breaking the protocol:
                                  line says how; EXITED follows */
    HC_EVENT_SOURCES = 8,      /* a source listing, closed by the sources_done in line:
                                  names, name_count, error; never dropped when it
                                  answers hc_list_sources or hc_request_sources */
    HC_EVENT_FRAME_SIZE = 9    /* interface version 4: width, height of the frames shown
                                  now; sent while a view holds the host window */
} hc_event_type;

typedef struct hc_event {
    unsigned int size; /* hc_next_event: set it first (see Growth above) */
    hc_event_type type;
    double received_ms;       /* since the start */
    const char* line;         /* the line as the host wrote it, "" for PIPE_OPENED and EXITED */
    const char* state;        /* STATUS: connecting, connected, reconnecting, disconnected, error */
    const char* source;       /* STATUS: source name, error text, or "" */
    double fps;               /* STATS */
    int width;                /* STATS, FRAME_SIZE */
    int height;               /* STATS, FRAME_SIZE */
    long long window;         /* READY: the window's HWND as a number: (HWND)(intptr_t)window */
    unsigned long process_id; /* READY: the process the library started */
    unsigned long exit_code;  /* EXITED */
    const char* const* names; /* SOURCES: name_count names in the host's order, each as
                                 hc_set_source takes it (a name holding a NUL byte is
                                 left out); they live as the strings do */
    unsigned int name_count;  /* SOURCES */
    const char* error;        /* SOURCES: why there is no list, or no whole one; "" */
} hc_event;

/* Whether `event` (an hc_event pointer) holds `field`. */
#define HC_EVENT_HAS(event, field) \
    ((event)->size >= offsetof(hc_event, field) + sizeof((event)->field))

/* Strings in an event live during the callback, or until the same thread's next
 * hc_next_event on the handle (or hc_destroy); copy what you keep. */
typedef void (*hc_event_callback)(void* user, const hc_event* event);

typedef struct hc_start_options {
    unsigned int size;              /* set it first (see Growth above) */
    unsigned int write_timeout_ms;  /* the longest a command may wait; 5000 */
    unsigned int end_wait_ms;       /* hc_destroy's wait for the host's end after its
                                       shutdown, before termination; 10000 */
    unsigned int max_queued_events; /* events waiting for the callback or the poller;
                                       beyond it the oldest STATUS, STATS and OTHER events
                                       and listings nobody asked for are dropped (never
                                       the others); 4096 */
    /* Interface version 3: */
    const char* library_folder;     /* an absolute folder put first on the host's PATH,
                                       where it looks for its receiving library after its
                                       own folder and the system folders; NULL: PATH as
                                       yours */
    const char* const* environment; /* environment_count "NAME=value" strings set for the
                                       host over your own environment; NULL: none */
    int environment_count;
} hc_start_options;

/* What hc_list_sources gives. */
typedef struct hc_source_list {
    unsigned int size;        /* set it first (see Growth above) */
    unsigned int count;       /* the number of names */
    const char* const* names; /* count UTF-8 names in the host's order, each as
                                 hc_set_source takes it; NULL when count is 0 */
} hc_source_list;

typedef struct hc_version_info {
    unsigned int size;              /* set it first (see Growth above) */
    unsigned int interface_version; /* HC_INTERFACE_VERSION of the library */
    /* Interface version 3: the release of the library and its hosts, as in the package's
       name (major.minor.patch). */
    unsigned int version_major;
    unsigned int version_minor;
    unsigned int version_patch;
} hc_version_info;

/* HC_OK; HC_INVALID_ARGUMENT (info NULL or its size below 4). No wait. */
HC_API hc_result hc_get_version(hc_version_info* info);
/* The name of a result ("HC_PIPE_CLOSED: ..."), a static string; never NULL. */
HC_API const char* hc_result_text(hc_result result);
/* Fills `options` with the defaults (as far as its size reaches). HC_OK;
 * HC_INVALID_ARGUMENT. No wait. */
HC_API hc_result hc_default_start_options(hc_start_options* options);

/* Allocates a handle. HC_OK; HC_INVALID_ARGUMENT; HC_OUT_OF_MEMORY (*host is NULL). */
HC_API hc_result hc_create(hc_host** host);

/* Ends the host if it still runs (as hc_end with end_wait_ms), stops the callbacks and
 * frees the handle. NULL is ignored. No call on the handle may start once hc_destroy has
 * been called. It waits for the calls in progress on other threads (they end within their
 * own bounds once the host has gone), for the callback in progress to return, and for
 * every thread of the library's for this handle to end. When it returns no callback runs,
 * no code of the library runs for the handle, and host_controller.dll may be unloaded.
 * Waits: as hc_end, plus however long your callback takes to return from the event in
 * progress (no limit: your code), plus the calls in progress on other threads. Not from
 * DllMain: a thread's end waits for the loader lock that DllMain holds.
 * Where it must not wait, because what it would wait for waits for it: inside the
 * callback; in a message that the callback sent this thread with SendMessage and waits
 * for; in a message that a call of this thread on the handle dispatched while it waited
 * (that call cannot end before this one). There the host is ended and no callback follows
 * the one in progress, but hc_destroy returns without waiting: the handle is freed when the
 * last call in progress on it returns (at once when there is none; a call of this thread
 * that the destroy came from inside returns then, without pointers into the handle), and
 * the library's threads end by themselves once your callback has returned. Each of them
 * holds host_controller.dll loaded until it has ended, so unloading it is safe after
 * hc_destroy has returned in these cases too; your `user` pointer must stay valid until
 * the callback in progress has returned.
 * A message from anyone else (another thread, another process, the system) that brings
 * hc_destroy while the callback runs is waited through: the library asks the callback's
 * thread, which answers only from inside a wait that takes sent messages (SendMessage's
 * own among them). A callback that is itself in such a wait for a third thread at that
 * moment (a SendMessage to another window's thread, a modal loop) is taken for one that
 * waits for this thread, and hc_destroy does not wait for it. */
HC_API void hc_destroy(hc_host* host);

/* Starts `executable` with --pipeName=<an unguessable name> followed by `args`
 * (arg_count UTF-8 strings such as "--quality=low"). Each reaches the host as one
 * argument, whatever it holds: the library quotes it by the rules CommandLineToArgvW
 * reads, and no text inside it can become an option of its own. `executable` must be the absolute
 * path of a .exe (C:\...\Tivane.exe); the host runs in its own folder. With a callback,
 * every event goes to it with `user`; with NULL, take events with hc_next_event. The
 * callback and user pointer are set only when the start succeeds; a handle is started
 * once. Returns once the host process runs; no wait for the host.
 * HC_OK; HC_INVALID_ARGUMENT; HC_WRONG_STATE (started already); HC_PIPE_FAILED;
 * HC_LAUNCH_FAILED (hc_last_system_error 2: not found); HC_OUT_OF_MEMORY. */
HC_API hc_result hc_start(hc_host* host, const char* executable, const char* const* args,
                          int arg_count, hc_event_callback callback, void* user);
/* hc_start with options (NULL: the defaults; fields beyond options->size: the defaults).
 * The same results. */
HC_API hc_result hc_start_ex(hc_host* host, const char* executable, const char* const* args,
                             int arg_count, hc_event_callback callback, void* user,
                             const hc_start_options* options);

/* Waits for host_ready; window and process_id may be NULL. The host_ready must name the
 * started process and a window of it, or the library ends the host (HC_HOST_FAULTY).
 * On a timeout the host keeps running until hc_end or hc_destroy.
 * Waits at most timeout_ms (HC_WAIT_FOREVER: no limit), plus at most 2 s in all for the
 * exit code of a host that ended first and for what it said on its standard error.
 * HC_OK; HC_INVALID_ARGUMENT; HC_WRONG_STATE (not started, or the system refused the
 * wait: hc_last_system_error); HC_EXITED_BEFORE_PIPE;
 * HC_EXITED_BEFORE_READY (hc_exit_code has the code); HC_PIPE_NEVER_OPENED;
 * HC_READY_TIMED_OUT; HC_PIPE_CLOSED (the pipe closed, the host not yet gone);
 * HC_HOST_FAULTY; HC_OUT_OF_MEMORY. */
HC_API hc_result hc_wait_ready(hc_host* host, unsigned timeout_ms, long long* window,
                               unsigned long* process_id);

/* Why a host could not start (interface version 3). A host that fails at start-up still
 * exits with code 1 (HC_EXITED_BEFORE_PIPE), but first says which step failed; new
 * reasons may come: treat an unknown one as HC_STARTUP_OTHER. */
typedef enum hc_startup_failure {
    HC_STARTUP_NONE = 0,              /* none known: it started, runs, or ended without saying */
    HC_STARTUP_BAD_COMMAND_LINE = 1,  /* no --pipeName= */
    HC_STARTUP_NO_WINDOW = 2,         /* its window could not be made */
    HC_STARTUP_NO_DEVICE = 3,         /* no Direct3D 11 device (feature level 11_0) */
    HC_STARTUP_LIBRARY_NOT_FOUND = 4, /* its receiving library is not where it looks: the
                                         text names the library and the places */
    HC_STARTUP_LIBRARY_UNUSABLE = 5,  /* found, but it would not load (a library it needs
                                         is missing, say), lacks an entry or failed to
                                         initialise: the text names the file and why */
    HC_STARTUP_PIPE_NOT_OPENED = 6,   /* the pipe did not exist or stayed busy */
    HC_STARTUP_OTHER = 7              /* a reason this library does not know: see text */
} hc_startup_failure;

typedef struct hc_startup_info {
    unsigned int size; /* set it first (see Growth above) */
    hc_startup_failure failure;
    const char* text; /* the host's own words, UTF-8, as one line (control bytes become
                         spaces), "" for HC_STARTUP_NONE; valid until hc_destroy */
} hc_startup_info;

/* Once the host has ended: why it could not start, as it said. hc_last_error after
 * HC_EXITED_BEFORE_PIPE ends with the same text. The first call after the host's end
 * stops the library's reader of the host's standard error: it waits for that at most 1 s
 * (a moment in practice), taking sent messages.
 * HC_OK (failure HC_STARTUP_NONE while the host runs, or when it started or did not say);
 * HC_INVALID_ARGUMENT (info NULL or its size below 4); HC_WRONG_STATE (not started, or
 * hc_destroy began during the call: text is then ""). */
HC_API hc_result hc_get_startup_failure(hc_host* host, hc_startup_info* info);

/* Without a callback: the next event, for one polling thread. Set event->size first.
 * Waits at most timeout_ms (HC_WAIT_FOREVER: until the next event or the end).
 * HC_OK; HC_INVALID_ARGUMENT (event NULL or its size below 8); HC_WRONG_STATE (not
 * started, or events go to a callback); HC_TIMED_OUT; HC_NO_MORE_EVENTS (also when
 * hc_destroy began during the call: nothing is filled); HC_OUT_OF_MEMORY. */
HC_API hc_result hc_next_event(hc_host* host, unsigned timeout_ms, hc_event* event);

/* One command each. quality may be NULL: set_source then carries none. Each waits at
 * most write_timeout_ms in all (other threads' commands ahead of it included).
 * HC_OK; HC_INVALID_ARGUMENT (NULL, an empty name, a NUL byte); HC_WRONG_STATE (not
 * started, or the host has not opened the pipe yet); HC_PIPE_CLOSED (the host has ended
 * or closed the pipe, or hc_end ran); HC_WRITE_FAILED; HC_WRITE_TIMED_OUT;
 * HC_OUT_OF_MEMORY. */
HC_API hc_result hc_set_source(hc_host* host, const char* name, const char* quality);
HC_API hc_result hc_set_quality(hc_host* host, const char* quality);
HC_API hc_result hc_shutdown(hc_host* host);

/* Asks the host which sources it can see and waits for the listing that answers: the
 * first one the host closes after the call began (a listing under way answers it, as the
 * host itself merges the requests). Works with a callback and with polling, on any thread
 * (the callback's included); the listing also comes as an HC_EVENT_SOURCES event. The
 * names live until the same thread's next hc_list_sources on the handle, or hc_destroy;
 * copy what you keep. Its wait dispatches sent messages as hc_wait_ready's does.
 * Waits at most timeout_ms in all, the request's write included (HC_WAIT_FOREVER: until
 * the answer or the host's end; see HC_LIST_SOURCES_WAIT_MS).
 * HC_OK; HC_INVALID_ARGUMENT (list NULL or its size below 16); HC_WRONG_STATE (not
 * started, or the host has not opened the pipe yet); HC_PIPE_CLOSED (the host ended or
 * closed the pipe before it answered); HC_WRITE_FAILED; HC_WRITE_TIMED_OUT;
 * HC_LIST_FAILED (hc_last_error has the host's reason, such as "Source listing not
 * supported", or says what is missing; list has the names that did arrive);
 * HC_LIST_TIMED_OUT (the host keeps running); HC_OUT_OF_MEMORY. On any other failure
 * list->count is 0. When hc_destroy began during the call (from a message that its wait
 * dispatched, say): HC_PIPE_CLOSED with count 0 and names NULL, for the handle goes as
 * the call returns. */
HC_API hc_result hc_list_sources(hc_host* host, unsigned timeout_ms, hc_source_list* list);
/* Asks the host which sources it can see without waiting: the listing comes as an
 * HC_EVENT_SOURCES event. The results and the wait of hc_shutdown. */
HC_API hc_result hc_request_sources(hc_host* host);

/* shutdown, at most wait_ms in all for the host's end (the shutdown's write included),
 * then termination (exit code HC_TERMINATED_EXIT_CODE). exit_code may be NULL. Returns
 * once EXITED has been delivered: taken by the callback, or queued for hc_next_event;
 * except where hc_destroy would not wait for the callback either (see there), in which
 * case EXITED follows once the callback in progress has returned. Any number of threads
 * may call it at once, each with its own wait_ms.
 * Waits at most wait_ms + 13 s: 5 s for a terminated host to go, 3 s for the host's last
 * lines, 5 s while the callback is still busy with earlier events. Typically it takes the
 * host's own end: about 0.1 s for a receiving host (under Wine on a display without a
 * window manager, about 2 s more).
 * HC_OK; HC_WRONG_STATE (not started, or the host outlived its termination);
 * HC_OUT_OF_MEMORY. */
HC_API hc_result hc_end(hc_host* host, unsigned wait_ms, unsigned long* exit_code);

/* hc_end for `count` hosts at once (interface version 3): shutdown to each, at most
 * wait_ms in all for them together, then termination of the ones left, so that eight
 * hosts take about the time of one. exit_codes and results (each NULL, or `count`
 * entries) get each host's exit code and result; hc_last_error(hosts[i]) says why one
 * failed. Returns HC_OK when every host has ended, else the first host's failure.
 * Waits at most wait_ms + 13 s, however many hosts, as hc_end.
 * HC_OK; HC_INVALID_ARGUMENT (hosts NULL, or a NULL entry); HC_WRONG_STATE (a host not
 * started, or one that outlived its termination); HC_OUT_OF_MEMORY. */
HC_API hc_result hc_end_many(hc_host* const* hosts, size_t count, unsigned wait_ms,
                             unsigned long* exit_codes, hc_result* results);

/* The host's exit code once it has ended. No wait.
 * HC_OK; HC_INVALID_ARGUMENT; HC_WRONG_STATE (no host was started, or it still runs). */
HC_API hc_result hc_exit_code(hc_host* host, unsigned long* exit_code);

typedef struct hc_process_info {
    unsigned int size;        /* set it first (see Growth above) */
    unsigned long process_id; /* the host process the library started */
    void* process_handle;     /* its process HANDLE, the library's own: wait on it, ask
                                 its times or memory; do not close it. Valid until
                                 hc_destroy */
} hc_process_info;

/* The host process, right after a successful hc_start (interface version 3). No wait.
 * HC_OK; HC_INVALID_ARGUMENT (info NULL or its size below 4); HC_WRONG_STATE (not
 * started, or hc_destroy has begun). */
HC_API hc_result hc_get_process(hc_host* host, hc_process_info* info);
/* Terminates the host at once with exit_code, without a shutdown (interface version 3).
 * EXITED follows with that code. Waits at most 5 s for the host to go.
 * HC_OK; HC_WRONG_STATE (not started, or the system refused: hc_last_system_error). */
HC_API hc_result hc_terminate(hc_host* host, unsigned long exit_code);
/* How many STATUS, STATS and OTHER events, and listings nobody asked for, were dropped
 * because max_queued_events were waiting (interface version 3). No wait.
 * HC_OK; HC_INVALID_ARGUMENT (count NULL); HC_WRONG_STATE (not started). */
HC_API hc_result hc_dropped_events(hc_host* host, unsigned long long* count);

/* Why the calling thread's last call on this handle failed, as one line; "" after a
 * success. Valid until the same thread's next call on the handle, or hc_destroy. Each
 * thread's results are its own and go once the thread has ended. NULL handle: a static
 * text. */
HC_API const char* hc_last_error(hc_host* host);
/* The system's error code behind the calling thread's last call on this handle, 0 when
 * there was none. */
HC_API unsigned long hc_last_system_error(hc_host* host);

/* A view (interface version 4): the host's picture in a rectangle of your window, managed
 * by the library. One view per handle. hc_view_show shows it, and moves or resizes it when
 * called again; the picture keeps the frame's shape inside the rectangle (letterboxed: the
 * rest of the rectangle stays yours, bars included) unless HC_VIEW_FILL is given. You never
 * touch the host window yourself.
 *
 * The library chooses the way, in this order, and hc_view_get says which it took:
 * - HC_VIEW_THUMBNAIL: a DWM thumbnail of the host window drawn into your top-level window,
 *   where desktop composition runs (on Windows 8 and later it always does);
 * - HC_VIEW_OWNED_WINDOW: the host window itself, owned by your top-level window, opaque
 *   and never activated, kept over the rectangle as your window moves, changes its size,
 *   its place in the z-order or its visibility (the way taken under Wine);
 * - HC_VIEW_CHILD_WINDOW: the host window as a child of the container.
 * While a view holds the host window, the host keeps the window at the view's size and
 * reports each new frame size at once (HC_EVENT_FRAME_SIZE), so the picture takes a new
 * shape within moments and never jumps to the frame's size.
 *
 * Threads: any, as every other function. The view follows your window on its own thread
 * (a hook on that thread's messages) and the frame's size on the library's reader thread;
 * neither waits for a call in progress. Close the view (or end the host) before you
 * destroy the container. */
typedef enum hc_view_way {
    HC_VIEW_NONE = 0, /* not showing: never shown, closed, or the host has ended */
    HC_VIEW_THUMBNAIL = 1,
    HC_VIEW_OWNED_WINDOW = 2,
    HC_VIEW_CHILD_WINDOW = 3
} hc_view_way;

/* hc_view_show flags: HC_VIEW_FILL stretches the picture to the whole rectangle; the
 * others leave a way out. */
#define HC_VIEW_FILL 0x1u
#define HC_VIEW_NO_THUMBNAIL 0x2u
#define HC_VIEW_NO_OWNED_WINDOW 0x4u
#define HC_VIEW_NO_CHILD_WINDOW 0x8u

typedef struct hc_view_info {
    unsigned int size; /* set it first (see Growth above) */
    hc_view_way way;
    int visible;                  /* the picture is on show now */
    int left, top, right, bottom; /* where the picture is, in the container's client
                                     coordinates (right and bottom excluded) */
    int frame_width;              /* the frame's size as the view knows it, 0 before any */
    int frame_height;
} hc_view_info;

/* Shows the host's picture in the rectangle (left, top, width, height) of `container`'s
 * client area (an HWND: a top-level window or any child of one; the part of the rectangle
 * outside the client area is left out). The first call, and one with another container,
 * takes the host window by the first way the system offers; later calls move and resize at
 * once. The picture's own move is done by the host's thread moments later.
 * Waits a few milliseconds; the first call also writes window_size to the host (at most
 * write_timeout_ms) and, as a child window, re-parents it (under Wine without a window
 * manager about 2 s).
 * HC_OK; HC_INVALID_ARGUMENT (container is no window, a negative size, every way excluded);
 * HC_WRONG_STATE (no host_ready yet, the host has ended, or the system offered none of the
 * ways allowed: hc_last_error says which). */
HC_API hc_result hc_view_show(hc_host* host, void* container, int left, int top, int width,
                              int height, unsigned flags);
/* Takes the picture off the screen until the next hc_view_show; the view keeps the window.
 * HC_OK. No wait. */
HC_API hc_result hc_view_hide(hc_host* host);
/* Gives the host window back as the view found it: no owner or parent, alpha 0, its old
 * place, its size to the host again. The next hc_view_show takes it anew. hc_destroy does
 * this too. HC_OK. Waits a few milliseconds (a child window: the re-parenting). */
HC_API hc_result hc_view_close(hc_host* host);
/* What the view does now. HC_OK; HC_INVALID_ARGUMENT (info NULL or its size below 4). */
HC_API hc_result hc_view_get(hc_host* host, hc_view_info* info);

#ifdef __cplusplus
}
#endif

#endif /* HOST_CONTROLLER_H */
