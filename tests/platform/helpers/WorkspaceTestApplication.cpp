// A stand-in application for the workspace tests and benchmarks: optionally forks helpers of its
// own and maps a top-level window, logging when it asks for the map, then waits to be ended.
//
//   workspace-test-application [--window] [--class NAME] [--no-pid] [--into WINDOW]
//                              [--connect-after-ms D] [--fork N] [--lifetime-ms M]
//                              [anything else is ignored]
//
// --class sets the window's WM_CLASS to NAME (instance and class); --no-pid leaves out _NET_WM_PID;
// --into makes the window a child of another client's WINDOW (decimal id), as an embedded one;
// --connect-after-ms waits D ms before connecting to the display, as a slow program does.
// With $VAULTINE_TEST_MAP_LOG set, appends "<pid> <CLOCK_MONOTONIC ns>" just before mapping.
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return value;
}

void sleepMs(long milliseconds) {
    const timespec pauseTime{milliseconds / 1000, (milliseconds % 1000) * 1000000};
    nanosleep(&pauseTime, nullptr);
}

void logMap() {
    const char* path = std::getenv("VAULTINE_TEST_MAP_LOG");
    if (!path)
        return;
    if (FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%d %lld\n", static_cast<int>(getpid()), monotonicNanoseconds());
        std::fclose(log);
    }
}

// Kept open for the life of the process so the window stays mapped.
xcb_connection_t* mapWindow(const std::string& windowClass, bool declarePid, xcb_window_t parent) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return nullptr;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, parent ? parent : screen->root, 0,
                      0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0,
                      nullptr);
    const uint32_t pid = static_cast<uint32_t>(getpid());
    if (declarePid)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window,
                            atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (!windowClass.empty()) {
        const std::string value = windowClass + '\0' + windowClass + '\0';
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, value.size(), value.data());
    }
    const char title[] = "workspace-test-application";
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, sizeof title - 1, title);
    logMap();
    xcb_map_window(connection, window);
    xcb_flush(connection);
    return connection;
}

}  // namespace

int main(int argc, char** argv) {
    bool window = false;
    bool declarePid = true;
    std::string windowClass;
    xcb_window_t parent = 0;
    long connectAfterMs = 0;
    int forks = 0;
    long lifetimeMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--window")
            window = true;
        else if (argument == "--no-pid")
            declarePid = false;
        else if (argument == "--class" && i + 1 < argc)
            windowClass = argv[++i];
        else if (argument == "--into" && i + 1 < argc)
            parent = static_cast<xcb_window_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (argument == "--connect-after-ms" && i + 1 < argc)
            connectAfterMs = std::atol(argv[++i]);
        else if (argument == "--fork" && i + 1 < argc)
            forks = std::atoi(argv[++i]);
        else if (argument == "--lifetime-ms" && i + 1 < argc)
            lifetimeMs = std::atol(argv[++i]);
    }
    for (int i = 0; i < forks; ++i) {
        if (fork() == 0) {
            // Helpers of the same program: they end with the parent unless it is killed hard.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            for (;;)
                pause();
        }
    }
    if (window)
        sleepMs(connectAfterMs);
    xcb_connection_t* connection = window ? mapWindow(windowClass, declarePid, parent) : nullptr;
    if (lifetimeMs > 0) {
        sleepMs(lifetimeMs);
    } else {
        for (;;)
            pause();
    }
    if (connection)
        xcb_disconnect(connection);
    return 0;
}
