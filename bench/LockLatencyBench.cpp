// Lock latency of the running Vaultine, side by side with a locker that polls /proc every 500 ms:
// first the idle CPU and wake-ups of Vaultine and Corvane with extra processes running, then for
// each launch of the locked application the time from exec to the lock window mapped, to the
// application's own first window and to the poller's sight of it, whether each locker would have
// covered the application before its first window, and last from kill -9 of Vaultine to the lock
// back on screen. Run by bench/lock-latency.sh inside the private session.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
    std::string application;             // the locked application's executable
    std::vector<std::string> arguments;  // its arguments, after "--"
    std::string vaultine;                // Vaultine's executable, to find its processes
    std::string corvane;                 // Corvane's, for the idle figures (optional)
    int launches = 50;
    int kills = 5;
    int idleSeconds = 30;
    int extraProcesses = 300;
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

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(executable.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        execv(executable.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// A locker that looks at /proc every 500 ms, as a polling one would: it notes when it first sees
// the launch under way.
class Poller {
  public:
    static constexpr auto interval = std::chrono::milliseconds(500);

    explicit Poller(std::string executable)
        : executable(std::move(executable)), thread([this] { run(); }) {}
    ~Poller() {
        stopping = true;
        thread.join();
    }
    void watch(pid_t child, Clock::time_point start) {
        std::lock_guard lock(mutex);
        watched = child;
        watchStart = start;
        seenMs.reset();
    }
    std::optional<double> seen() {
        std::lock_guard lock(mutex);
        return seenMs;
    }

  private:
    void run() {
        auto next = Clock::now();
        while (!stopping) {
            next += interval;
            std::this_thread::sleep_until(next);
            const std::vector<pid_t> pids = processesOf(executable);
            const auto now = Clock::now();
            std::lock_guard lock(mutex);
            if (watched && !seenMs && std::find(pids.begin(), pids.end(), watched) != pids.end())
                seenMs = Milliseconds(now - watchStart).count();
        }
    }

    std::string executable;
    std::mutex mutex;
    pid_t watched = 0;
    Clock::time_point watchStart;
    std::optional<double> seenMs;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

struct Launch {
    std::optional<double> lockMs;               // exec to the lock window mapped
    std::optional<double> applicationWindowMs;  // exec to the application's first window
    xcb_window_t lockWindow = 0;
    bool coveredFirst = false;  // the lock mapped before any window of the application
};

// One launch: the first screen-sized override-redirect window of another client than the
// application's is the lock; a window reparented or mapped by the application's client is its own.
Launch measureLaunch(Display& display, const Options& options, Poller& poller, pid_t& child) {
    display.drain();
    const auto start = Clock::now();
    child = spawn(options.application, options.arguments);
    poller.watch(child, start);
    Launch result;
    std::optional<uint32_t> applicationClient;
    bool applicationShown = false;
    const auto deadline = start + std::chrono::seconds(5);
    while (!result.lockMs || !applicationShown) {
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
                if (!applicationShown)
                    result.applicationWindowMs = Milliseconds(Clock::now() - start).count();
                applicationShown = true;
                continue;
            }
            if (!result.lockMs && type == XCB_MAP_NOTIFY && display.overrideRedirect(window) &&
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
    for (int i = 1; i < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--") {
            options.arguments.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 >= argc)
            break;
        if (key == "--application")
            options.application = argv[i + 1];
        else if (key == "--vaultine")
            options.vaultine = argv[i + 1];
        else if (key == "--launches")
            options.launches = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--kills")
            options.kills = std::max(0, std::atoi(argv[i + 1]));
        else if (key == "--corvane")
            options.corvane = argv[i + 1];
        else if (key == "--idle-seconds")
            options.idleSeconds = std::max(0, std::atoi(argv[i + 1]));
        else if (key == "--extra-processes")
            options.extraProcesses = std::max(0, std::atoi(argv[i + 1]));
    }
    if (options.application.empty() || options.vaultine.empty()) {
        std::fprintf(stderr,
                     "usage: LockLatencyBench --application EXE --vaultine EXE [--corvane EXE] "
                     "[--launches N] [--kills N] [--idle-seconds N] [--extra-processes N] "
                     "[-- ARGUMENTS]\n");
        std::exit(2);
    }
    return options;
}

void endChild(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// CPU time (nanoseconds on the CPU, from schedstat: clock ticks are too coarse for idle
// figures) and voluntary context switches (wake-ups) of every thread of the processes.
struct Usage {
    unsigned long long nanoseconds = 0;
    unsigned long long wakeups = 0;
};
Usage usageOf(const std::vector<pid_t>& pids) {
    Usage usage;
    for (const pid_t pid : pids) {
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(tasks.c_str()), closedir);
        while (const dirent* entry = folder ? readdir(folder.get()) : nullptr) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string task = tasks + "/" + entry->d_name;
            std::ifstream schedstat(task + "/schedstat");
            unsigned long long onCpu = 0;
            if (schedstat >> onCpu)
                usage.nanoseconds += onCpu;
            std::ifstream status(task + "/status");
            for (std::string row; std::getline(status, row);) {
                if (row.rfind("voluntary_ctxt_switches:", 0) == 0)
                    usage.wakeups += std::stoull(row.substr(row.find(':') + 1));
            }
        }
    }
    return usage;
}

// Vaultine and Corvane left alone for `idleSeconds` with `extraProcesses` sleeping processes.
void measureIdle(const Options& options) {
    if (options.idleSeconds == 0)
        return;
    std::vector<pid_t> extra;
    for (int i = 0; i < options.extraProcesses; ++i)
        extra.push_back(spawn("/bin/sleep", {"3600"}));
    sleep(6);  // the extra processes are read by a sweep (every 5 s) before the measurement
    std::vector<pid_t> pair = processesOf(options.vaultine);
    if (!options.corvane.empty()) {
        const std::vector<pid_t> corvane = processesOf(options.corvane);
        pair.insert(pair.end(), corvane.begin(), corvane.end());
    }
    const Usage before = usageOf(pair);
    sleep(static_cast<unsigned>(options.idleSeconds));
    const Usage after = usageOf(pair);
    for (const pid_t pid : extra)
        endChild(pid);
    const double seconds = options.idleSeconds;
    const double share =
        100.0 * static_cast<double>(after.nanoseconds - before.nanoseconds) / (1e9 * seconds);
    std::printf(
        "idle over %d s with %d extra processes: %.3f %% of one core, %.1f wake-ups/s "
        "(%s%zu processes)\n",
        options.idleSeconds, options.extraProcesses, share,
        static_cast<double>(after.wakeups - before.wakeups) / seconds,
        options.corvane.empty() ? "Vaultine only, " : "Vaultine and Corvane, ", pair.size());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    measureIdle(options);
    Display display;
    Poller poller(options.application);
    std::vector<double> lockTimes;
    std::vector<double> windowTimes;
    std::vector<double> pollerTimes;
    int coveredFirst = 0;
    int pollerFirst = 0;
    for (int i = 0; i < options.launches; ++i) {
        pid_t child = 0;
        const Launch launch = measureLaunch(display, options, poller, child);
        // The poller gets until its next look to see the launch.
        std::this_thread::sleep_for(Poller::interval + std::chrono::milliseconds(50));
        if (getenv("BENCH_VERBOSE"))
            std::printf("launch %d: lock %.1f window %.1f\n", i, launch.lockMs.value_or(-1),
                        launch.applicationWindowMs.value_or(-1));
        if (launch.lockMs) {
            lockTimes.push_back(*launch.lockMs);
            coveredFirst += launch.coveredFirst ? 1 : 0;
        }
        if (launch.applicationWindowMs)
            windowTimes.push_back(*launch.applicationWindowMs);
        if (const auto seen = poller.seen()) {
            pollerTimes.push_back(*seen);
            if (launch.applicationWindowMs && *seen < *launch.applicationWindowMs)
                ++pollerFirst;
        }
        poller.watch(0, Clock::now());
        // The end of the application's last instance takes its lock down.
        endChild(child);
        waitForUnlock(display, launch.lockWindow);
        // Vaultine settles after the lock came down before the next launch, as between real ones.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    printFigures("exec to lock window mapped", lockTimes, options.launches);
    printFigures("exec to the application's first window", windowTimes, options.launches);
    printFigures("exec to a 500 ms /proc poller seeing it", pollerTimes, options.launches);
    std::printf(
        "covered before the application's first window: Vaultine %d of %d, the poller %d "
        "of %d\n",
        coveredFirst, options.launches, pollerFirst, options.launches);

    std::vector<double> relockTimes;
    pid_t child = spawn(options.application, options.arguments);
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
