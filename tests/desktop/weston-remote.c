/* A weston module that lets a test drive the compositor from outside: a seat with a pointer
 * whose motion and buttons go to clients as real input events, and a view of the toplevel
 * windows (title, place, size and pixels) as the compositor knows them.
 *
 * Commands, one a line, written to the FIFO $XDG_RUNTIME_DIR/remote:
 *   windows REPLY             one line per window: pid x y width height title
 *   move X Y                  the pointer to X, Y (compositor coordinates)
 *   press, release            the left button, where the pointer is
 *   shot TITLE X Y W H REPLY  the pixels of that rectangle of the window (window
 *                             coordinates) as 32-bit words, row by row
 *   body TITLE REPLY          x y width height of the bounding box of the window's commonest
 *                             colour (its background), in window coordinates: the client area
 *                             inside any frame that the client draws itself
 *   close TITLE               ask the window to close, as its close button would
 * A REPLY is written whole to REPLY.part and renamed to REPLY, so a reader never sees half
 * of one; on failure REPLY holds one line "error: ...". Errors are also logged by weston. */
#include <errno.h>
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libweston-desktop/libweston-desktop.h>
#include <libweston/libweston.h>

/* libweston exports these for its input backends without installing their header. */
void weston_seat_init(struct weston_seat* seat, struct weston_compositor* ec, const char* name);
int weston_seat_init_pointer(struct weston_seat* seat);
void weston_seat_release(struct weston_seat* seat);
void notify_motion_absolute(struct weston_seat* seat, const struct timespec* time, double x,
                            double y);
void notify_button(struct weston_seat* seat, const struct timespec* time, int32_t button,
                   enum wl_pointer_button_state state);
void notify_pointer_frame(struct weston_seat* seat);

WL_EXPORT int wet_module_init(struct weston_compositor* compositor, int* argc, char* argv[]);

struct remote {
    struct weston_compositor* compositor;
    struct weston_seat seat;
    struct wl_event_source* source;
    struct wl_listener destroy;
    int fd;
    char path[4096];
    char line[8192];
    size_t used;
};

static FILE* open_reply(const char* reply, char* part, size_t size) {
    if ((size_t)snprintf(part, size, "%s.part", reply) >= size)
        return NULL;
    return fopen(part, "w");
}

static void finish_reply(FILE* f, const char* part, const char* reply) {
    if (fclose(f) != 0 || rename(part, reply) != 0)
        weston_log("remote: cannot write %s: %s\n", reply, strerror(errno));
}

static void reply_error(const char* reply, const char* what) {
    char part[4096];
    FILE* f = open_reply(reply, part, sizeof part);
    weston_log("remote: %s\n", what);
    if (!f)
        return;
    fprintf(f, "error: %s\n", what);
    finish_reply(f, part, reply);
}

/* Calls `each` on every mapped desktop surface until it returns non-zero. */
static struct weston_desktop_surface*
find_toplevel(struct remote* r,
              int (*each)(struct weston_desktop_surface*, struct weston_view*, void*), void* data) {
    struct weston_view* view;
    wl_list_for_each(view, &r->compositor->view_list, link) {
        if (!weston_surface_is_desktop_surface(view->surface))
            continue;
        struct weston_desktop_surface* ds = weston_surface_get_desktop_surface(view->surface);
        if (each(ds, view, data))
            return ds;
    }
    return NULL;
}

static const char* title_of(struct weston_desktop_surface* ds) {
    const char* t = weston_desktop_surface_get_title(ds);
    return t ? t : "";
}

static int print_window(struct weston_desktop_surface* ds, struct weston_view* view, void* f) {
    struct weston_geometry g = weston_desktop_surface_get_geometry(ds);
    fprintf(f, "%d %d %d %d %d %s\n", (int)weston_desktop_surface_get_pid(ds),
            (int)view->geometry.x + g.x, (int)view->geometry.y + g.y, g.width, g.height,
            title_of(ds));
    return 0;
}

static int has_title(struct weston_desktop_surface* ds, struct weston_view* view, void* title) {
    (void)view;
    return strcmp(title_of(ds), title) == 0;
}

static void list_windows(struct remote* r, const char* reply) {
    char part[4096];
    FILE* f = open_reply(reply, part, sizeof part);
    if (!f) {
        weston_log("remote: cannot write %s: %s\n", reply, strerror(errno));
        return;
    }
    find_toplevel(r, print_window, f);
    finish_reply(f, part, reply);
}

static void move_pointer(struct remote* r, double x, double y) {
    struct timespec now;
    weston_compositor_get_time(&now);
    notify_motion_absolute(&r->seat, &now, x, y);
    notify_pointer_frame(&r->seat);
}

static void left_button(struct remote* r, enum wl_pointer_button_state state) {
    struct timespec now;
    weston_compositor_get_time(&now);
    notify_button(&r->seat, &now, BTN_LEFT, state);
    notify_pointer_frame(&r->seat);
}

static void shoot(struct remote* r, const char* title, int x, int y, int w, int h,
                  const char* reply) {
    struct weston_desktop_surface* ds = find_toplevel(r, has_title, (void*)title);
    if (!ds)
        return reply_error(reply, "no such window");
    struct weston_geometry g = weston_desktop_surface_get_geometry(ds);
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > g.width || y + h > g.height)
        return reply_error(reply, "the rectangle is not inside the window");
    size_t size = (size_t)w * (size_t)h * 4;
    void* pixels = malloc(size);
    if (!pixels)
        return reply_error(reply, "out of memory");
    struct weston_surface* surface = weston_desktop_surface_get_surface(ds);
    if (weston_surface_copy_content(surface, pixels, size, g.x + x, g.y + y, w, h) != 0) {
        free(pixels);
        return reply_error(reply, "the renderer cannot copy the window (is it --use-pixman?)");
    }
    char part[4096];
    FILE* f = open_reply(reply, part, sizeof part);
    if (f) {
        if (fwrite(pixels, 1, size, f) != size)
            weston_log("remote: cannot write %s: %s\n", part, strerror(errno));
        finish_reply(f, part, reply);
    }
    free(pixels);
}

static int compare_words(const void* a, const void* b) {
    uint32_t x = *(const uint32_t*)a, y = *(const uint32_t*)b;
    return (x > y) - (x < y);
}

/* Sorts `sorted` in place. */
static uint32_t commonest(uint32_t* sorted, size_t count) {
    qsort(sorted, count, sizeof *sorted, compare_words);
    uint32_t best = sorted[0];
    size_t best_run = 0, run = 0;
    for (size_t i = 0; i < count; ++i) {
        run = i > 0 && sorted[i] == sorted[i - 1] ? run + 1 : 1;
        if (run > best_run) {
            best_run = run;
            best = sorted[i];
        }
    }
    return best;
}

static void find_body(struct remote* r, const char* title, const char* reply) {
    struct weston_desktop_surface* ds = find_toplevel(r, has_title, (void*)title);
    if (!ds)
        return reply_error(reply, "no such window");
    struct weston_geometry g = weston_desktop_surface_get_geometry(ds);
    if (g.width <= 0 || g.height <= 0)
        return reply_error(reply, "the window has no size");
    size_t count = (size_t)g.width * (size_t)g.height;
    uint32_t* pixels = malloc(2 * count * sizeof *pixels); /* and a copy to sort */
    if (!pixels)
        return reply_error(reply, "out of memory");
    struct weston_surface* surface = weston_desktop_surface_get_surface(ds);
    if (weston_surface_copy_content(surface, pixels, count * sizeof *pixels, g.x, g.y, g.width,
                                    g.height) != 0) {
        free(pixels);
        return reply_error(reply, "the renderer cannot copy the window (is it --use-pixman?)");
    }
    memcpy(pixels + count, pixels, count * sizeof *pixels);
    uint32_t colour = commonest(pixels + count, count);
    int left = g.width, top = g.height, right = -1, bottom = -1;
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (pixels[(size_t)y * (size_t)g.width + (size_t)x] == colour) {
                if (x < left)
                    left = x;
                if (x > right)
                    right = x;
                if (y < top)
                    top = y;
                if (y > bottom)
                    bottom = y;
            }
    free(pixels);
    char part[4096];
    FILE* f = open_reply(reply, part, sizeof part);
    if (!f)
        return;
    fprintf(f, "%d %d %d %d %08x\n", left, top, right - left + 1, bottom - top + 1, colour);
    finish_reply(f, part, reply);
}

static void run_command(struct remote* r, char* line) {
    char word[16], a[4096], b[4096];
    double x, y;
    int ix, iy, iw, ih;
    if (sscanf(line, "windows %4095s", a) == 1) {
        list_windows(r, a);
    } else if (sscanf(line, "move %lf %lf", &x, &y) == 2) {
        move_pointer(r, x, y);
    } else if (strcmp(line, "press") == 0) {
        left_button(r, WL_POINTER_BUTTON_STATE_PRESSED);
    } else if (strcmp(line, "release") == 0) {
        left_button(r, WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (sscanf(line, "shot %4095s %d %d %d %d %4095s", a, &ix, &iy, &iw, &ih, b) == 6) {
        shoot(r, a, ix, iy, iw, ih, b);
    } else if (sscanf(line, "body %4095s %4095s", a, b) == 2) {
        find_body(r, a, b);
    } else if (sscanf(line, "close %4095s", a) == 1) {
        struct weston_desktop_surface* ds = find_toplevel(r, has_title, a);
        if (ds)
            weston_desktop_surface_close(ds);
        else
            weston_log("remote: close: no window titled %s\n", a);
    } else if (sscanf(line, "%15s", word) == 1) {
        weston_log("remote: unknown command: %s\n", line);
    }
}

static int on_readable(int fd, uint32_t mask, void* data) {
    struct remote* r = data;
    (void)mask;
    ssize_t n = read(fd, r->line + r->used, sizeof r->line - 1 - r->used);
    if (n <= 0)
        return 0;
    r->used += (size_t)n;
    r->line[r->used] = '\0';
    char *start = r->line, *end;
    while ((end = strchr(start, '\n'))) {
        *end = '\0';
        run_command(r, start);
        start = end + 1;
    }
    r->used = strlen(start);
    memmove(r->line, start, r->used);
    if (r->used == sizeof r->line - 1) {
        weston_log("remote: a command line is too long; dropped\n");
        r->used = 0;
    }
    return 0;
}

static void on_destroy(struct wl_listener* listener, void* data) {
    struct remote* r = wl_container_of(listener, r, destroy);
    (void)data;
    wl_event_source_remove(r->source);
    close(r->fd);
    unlink(r->path);
    weston_seat_release(&r->seat);
    free(r);
}

WL_EXPORT int wet_module_init(struct weston_compositor* compositor, int* argc, char* argv[]) {
    (void)argc;
    (void)argv;
    const char* dir = getenv("XDG_RUNTIME_DIR");
    if (!dir) {
        weston_log("remote: XDG_RUNTIME_DIR is not set\n");
        return -1;
    }
    struct remote* r = zalloc(sizeof *r);
    if (!r)
        return -1;
    r->compositor = compositor;
    snprintf(r->path, sizeof r->path, "%s/remote", dir);
    unlink(r->path);
    /* Opened for writing too, so that the FIFO never reports an end when a writer leaves. */
    if (mkfifo(r->path, 0600) != 0 || (r->fd = open(r->path, O_RDWR | O_NONBLOCK)) < 0) {
        weston_log("remote: cannot make %s: %s\n", r->path, strerror(errno));
        free(r);
        return -1;
    }
    weston_seat_init(&r->seat, compositor, "remote");
    if (weston_seat_init_pointer(&r->seat) != 0) {
        weston_log("remote: cannot give the seat a pointer\n");
        weston_seat_release(&r->seat);
        close(r->fd);
        free(r);
        return -1;
    }
    r->source = wl_event_loop_add_fd(wl_display_get_event_loop(compositor->wl_display), r->fd,
                                     WL_EVENT_READABLE, on_readable, r);
    r->destroy.notify = on_destroy;
    wl_signal_add(&compositor->destroy_signal, &r->destroy);
    weston_log("remote: commands on %s\n", r->path);
    return 0;
}
