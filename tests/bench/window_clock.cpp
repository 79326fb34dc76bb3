// One start of a program, timed from exec to its window being viewable as
// the X server sees it: the moment the window, or the frame the window
// manager put it in, is mapped, read from the server's own events rather
// than by asking again and again (which adds its own delay to both sides of
// a comparison). Prints milliseconds to the window, the program's processor
// milliseconds by then (all its threads) and its resident KiB, then ends it.
//   window_clock NAME PROGRAM [ARGUMENTS...]
#include <xcb/xcb.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>

extern char **environ;

namespace {

double nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

bool isViewableWindowNamed(xcb_connection_t *x, xcb_window_t window, const std::string &name)
{
    const xcb_get_property_cookie_t nameCookie =
        xcb_get_property(x, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const xcb_get_window_attributes_cookie_t stateCookie = xcb_get_window_attributes(x, window);
    Owned<xcb_get_property_reply_t> title(xcb_get_property_reply(x, nameCookie, nullptr),
                                          &std::free);
    Owned<xcb_get_window_attributes_reply_t> state(
        xcb_get_window_attributes_reply(x, stateCookie, nullptr), &std::free);
    if (!title || !state)
        return false;
    const std::string text(static_cast<const char *>(xcb_get_property_value(title.get())),
                           size_t(xcb_get_property_value_length(title.get())));
    return text == name && state->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Processor time of every thread of the process, from the scheduler's own
// nanosecond count.
double processorMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR *folder = opendir(tasks.c_str())) {
        while (const dirent *entry = readdir(folder)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream schedstat(tasks + '/' + entry->d_name + "/schedstat");
            double ns = 0;
            if (schedstat >> ns)
                total += ns / 1e6;
        }
        closedir(folder);
    }
    return total;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string field;
    while (status >> field) {
        if (field == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_clock NAME PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const std::string name = argv[1];
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "window_clock: no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &rootEvents);
    // Listening before the program starts.
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const double started = nowMs();
    if (posix_spawn(&pid, argv[2], &quiet, nullptr, argv + 2, environ) != 0) {
        std::fprintf(stderr, "window_clock: cannot run %s\n", argv[2]);
        return 1;
    }

    // Windows made on the root: the program's own and the frames around them.
    std::set<xcb_window_t> topLevels;
    double viewable = -1;
    pollfd events{xcb_get_file_descriptor(x), POLLIN, 0};
    while (viewable < 0 && nowMs() - started < 30'000) {
        Owned<xcb_generic_event_t> event(xcb_poll_for_event(x), &std::free);
        if (!event) {
            if (xcb_connection_has_error(x) || poll(&events, 1, 100) < 0)
                break;
            continue;
        }
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event.get());
            topLevels.insert(created->window);
            // Its own mapping too, for a frame mapped before its client.
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(x, created->window, XCB_CW_EVENT_MASK, &mask);
            [[fallthrough]];
        }
        case XCB_MAP_NOTIFY:
            // One of them, or its frame, was mapped: is the window there now?
            for (xcb_window_t window : topLevels) {
                if (isViewableWindowNamed(x, window, name)) {
                    viewable = nowMs();
                    break;
                }
            }
            break;
        default:
            break;
        }
    }
    const double cpu = processorMs(pid);
    const long rss = residentKiB(pid);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    xcb_disconnect(x);
    if (viewable < 0) {
        std::fprintf(stderr, "window_clock: no viewable window named %s within 30 s\n",
                     name.c_str());
        return 1;
    }
    std::printf("%.1f %.1f %ld\n", viewable - started, cpu, rss);
    return 0;
}
