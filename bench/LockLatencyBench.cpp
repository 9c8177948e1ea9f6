// Lock latency of the running Vaultine: from exec of the locked test application to the lock
// window mapped, whether the lock came before the application's first window, and from kill -9 of
// Vaultine to the lock back on screen. Run by bench/lock-latency.sh inside the private session.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct Options {
    std::string application;  // the locked application's executable
    std::string vaultine;     // Vaultine's executable, to find its processes
    int launches = 50;
    int kills = 5;
};

// The X connection, watching every top-level window of the root.
class Display {
  public:
    Display() : connection(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection)) {
            std::fprintf(stderr, "no X display\n");
            std::exit(2);
        }
        screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        mask = xcb_get_setup(connection)->resource_id_mask;
        const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &events);
        xcb_flush(connection);
    }
    ~Display() { xcb_disconnect(connection); }

    // The client a window belongs to: the resource-id base the server gave that client.
    uint32_t clientOf(xcb_window_t window) const { return window & ~mask; }
    bool coversScreen(xcb_window_t window) {
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
        return geometry && geometry->width >= screen->width_in_pixels / 2 &&
               geometry->height >= screen->height_in_pixels / 2;
    }
    bool overrideRedirect(xcb_window_t window) {
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr));
        return attributes && attributes->override_redirect;
    }
    // The next event, or none after the timeout.
    Reply<xcb_generic_event_t> next(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            if (xcb_generic_event_t* event = xcb_poll_for_event(connection))
                return Reply<xcb_generic_event_t>(event);
            usleep(200);
        }
        return nullptr;
    }
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
            std::free(event);
    }

  private:
    xcb_connection_t* connection;
    xcb_screen_t* screen = nullptr;
    uint32_t mask = 0;
};

std::vector<pid_t> processesOf(const std::string& executable) {
    std::vector<pid_t> pids;
    char resolved[4096];
    const std::string target = realpath(executable.c_str(), resolved) ? resolved : executable;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc)
        return pids;
    while (const dirent* entry = readdir(proc.get())) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        char link[4096];
        const std::string path = "/proc/" + std::to_string(pid) + "/exe";
        const ssize_t length = readlink(path.c_str(), link, sizeof(link) - 1);
        if (length > 0 && target == std::string(link, static_cast<std::size_t>(length)))
            pids.push_back(pid);
    }
    return pids;
}

pid_t spawn(const std::string& executable) {
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        execl(executable.c_str(), executable.c_str(), "-geometry", "300x100+50+50", "bench",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

struct Launch {
    std::optional<double> lockMs;  // exec to the lock window mapped
    xcb_window_t lockWindow = 0;
    bool coveredFirst = false;  // the lock mapped before any window of the application
};

// One launch: the first screen-sized override-redirect window of another client than the
// application's is the lock; a window reparented or mapped by the application's client is its own.
Launch measureLaunch(Display& display, const Options& options, pid_t& child) {
    display.drain();
    const auto start = Clock::now();
    child = spawn(options.application);
    Launch result;
    std::optional<uint32_t> applicationClient;
    bool applicationShown = false;
    const auto deadline = start + std::chrono::seconds(5);
    while (!result.lockMs) {
        auto event = display.next(deadline);
        if (!event)
            break;
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event.get());
            if (!created->override_redirect && !applicationClient)
                applicationClient = display.clientOf(created->window);
        } else if (type == XCB_REPARENT_NOTIFY || type == XCB_MAP_NOTIFY) {
            const xcb_window_t window =
                type == XCB_MAP_NOTIFY
                    ? reinterpret_cast<xcb_map_notify_event_t*>(event.get())->window
                    : reinterpret_cast<xcb_reparent_notify_event_t*>(event.get())->window;
            if (applicationClient && display.clientOf(window) == *applicationClient) {
                applicationShown = true;
                continue;
            }
            if (type == XCB_MAP_NOTIFY && display.overrideRedirect(window) &&
                display.coversScreen(window)) {
                result.lockMs = Milliseconds(Clock::now() - start).count();
                result.lockWindow = window;
                result.coveredFirst = !applicationShown;
            }
        }
    }
    return result;
}

// Waits until the lock window is unmapped or destroyed (at most 5 s).
void waitForUnlock(Display& display, xcb_window_t lock) {
    if (!lock)
        return;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (auto event = display.next(deadline)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_UNMAP_NOTIFY &&
            reinterpret_cast<xcb_unmap_notify_event_t*>(event.get())->window == lock)
            return;
        if (type == XCB_DESTROY_NOTIFY &&
            reinterpret_cast<xcb_destroy_notify_event_t*>(event.get())->window == lock)
            return;
    }
}

std::optional<double> measureRelock(Display& display, const Options& options) {
    const auto pids = processesOf(options.vaultine);
    if (pids.empty())
        return std::nullopt;
    display.drain();
    const auto start = Clock::now();
    for (pid_t pid : pids)
        kill(pid, SIGKILL);
    const auto deadline = start + std::chrono::seconds(10);
    while (auto event = display.next(deadline)) {
        if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
            continue;
        const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event.get())->window;
        if (display.overrideRedirect(window) && display.coversScreen(window))
            return Milliseconds(Clock::now() - start).count();
    }
    return std::nullopt;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto index =
        static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void printFigures(const char* title, const std::vector<double>& values, int attempts) {
    if (values.empty()) {
        std::printf("%s: no measurement in %d attempts\n", title, attempts);
        return;
    }
    std::printf("%s over %zu of %d: median %.1f ms, p95 %.1f ms, max %.1f ms\n", title,
                values.size(), attempts, percentile(values, 0.5), percentile(values, 0.95),
                *std::max_element(values.begin(), values.end()));
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--application")
            options.application = argv[i + 1];
        else if (key == "--vaultine")
            options.vaultine = argv[i + 1];
        else if (key == "--launches")
            options.launches = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--kills")
            options.kills = std::max(0, std::atoi(argv[i + 1]));
    }
    if (options.application.empty() || options.vaultine.empty()) {
        std::fprintf(stderr,
                     "usage: LockLatencyBench --application EXE --vaultine EXE [--launches N] "
                     "[--kills N]\n");
        std::exit(2);
    }
    return options;
}

void endChild(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    Display display;
    std::vector<double> lockTimes;
    int coveredFirst = 0;
    for (int i = 0; i < options.launches; ++i) {
        pid_t child = 0;
        const Launch launch = measureLaunch(display, options, child);
        if (launch.lockMs) {
            lockTimes.push_back(*launch.lockMs);
            coveredFirst += launch.coveredFirst ? 1 : 0;
        }
        // The end of the application's last instance takes its lock down.
        endChild(child);
        waitForUnlock(display, launch.lockWindow);
    }
    printFigures("exec to lock window mapped", lockTimes, options.launches);
    std::printf("lock mapped before the application's first window: %d of %d launches\n",
                coveredFirst, options.launches);

    std::vector<double> relockTimes;
    pid_t child = spawn(options.application);
    usleep(1500 * 1000);
    for (int i = 0; i < options.kills; ++i) {
        if (const auto relock = measureRelock(display, options))
            relockTimes.push_back(*relock);
        // Corvane ends once the relaunch has settled and a new one is started; let the pair settle.
        usleep(10 * 1000 * 1000);
    }
    endChild(child);
    printFigures("kill -9 of Vaultine to the lock back on screen", relockTimes, options.kills);
    return 0;
}
