// The genuine Vaultine: each way a client can fail to be it is refused, the display it draws on
// included.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "guard/PeerIdentity.h"

using namespace guard;

namespace {

constexpr pid_t kPid = 321;
constexpr uid_t kUid = 1000;
const std::string kTrusted = "/opt/vaultine/Vaultine.app/Contents/bin/Vaultine";

std::string statWithStart(std::uint64_t start, char state = 'S') {
    std::string stat = std::string("321 (Vault ine) ") + state;
    for (int field = 4; field < 22; ++field)
        stat += " 1";
    return stat + " " + std::to_string(start) + " 100 200\n";
}

// A process running the trusted file, and the bundle's folders, all as they should be.
struct FakeSystem {
    std::map<std::string, FileStatus> files;
    std::vector<std::string> stats = {statWithStart(5000)};
    std::string status = "Name:\tVaultine\nUid:\t1000\t1000\t1000\t1000\nTracerPid:\t0\n";
    std::string environ = std::string("HOME=/home/u\0PATH=/usr/bin\0", 27);
    std::string commandLine = std::string(kTrusted) + std::string(1, '\0');
    FileStatus running{0, S_IFREG | 0755, 8, 99};
    uid_t procOwner = 0;  // root's: not dumpable
    std::string cgroup = "0::/user.slice/user-1000.slice/session-2.scope\n";
    std::map<std::string, std::string> logind;  // none: no logind here
    std::size_t statReads = 0;

    FakeSystem() {
        std::string path = kTrusted;
        files[path] = {0, S_IFREG | 0755, 8, 99};
        while ((path = path.substr(0, path.find_last_of('/'))) != "")
            files[path] = {0, S_IFDIR | 0755, 8, 1};
        files["/"] = {0, S_IFDIR | 0755, 8, 2};
    }
    ProcessReaders readers() {
        ProcessReaders readers;
        readers.procFile = [this](pid_t pid, std::string_view name) -> std::optional<std::string> {
            if (pid != kPid)
                return std::nullopt;
            if (name == "stat")
                return stats[std::min(statReads++, stats.size() - 1)];
            if (name == "cmdline")
                return commandLine;
            if (name == "cgroup")
                return cgroup;
            return name == "status" ? status : environ;
        };
        readers.procFileOwner = [this](pid_t pid, std::string_view) -> std::optional<uid_t> {
            return pid == kPid ? std::optional(procOwner) : std::nullopt;
        };
        readers.executable = [this](pid_t) { return std::optional(running); };
        readers.path = [this](const std::string& path) -> std::optional<FileStatus> {
            const auto found = files.find(path);
            return found == files.end() ? std::nullopt : std::optional(found->second);
        };
        readers.logindRecord = [this](const std::string& name) -> std::optional<std::string> {
            const auto found = logind.find(name);
            return found == logind.end() ? std::nullopt : std::optional(found->second);
        };
        return readers;
    }
    // At each request, then what it was started with, once.
    PeerVerdict judge() {
        const PeerVerdict verdict = judgePeer(kPid, kUid, 5000, kTrusted, readers());
        return verdict == PeerVerdict::Genuine ? judgeSettings(kPid, kUid, 5000, readers())
                                               : verdict;
    }
    PeerVerdict judgeItsDisplay() { return judge(); }
};

}  // namespace

TEST(PeerIdentity, TheTrustedBundlesProcessIsGenuine) {
    FakeSystem system;
    EXPECT_EQ(system.judge(), PeerVerdict::Genuine);
}

TEST(PeerIdentity, ACopyOfTheBundleIsRefused) {
    FakeSystem system;
    system.running.inode = 100;
    EXPECT_EQ(system.judge(), PeerVerdict::NotTrustedFile);
}

TEST(PeerIdentity, AnExecutableOrFolderOthersCanWriteIsRefused) {
    FakeSystem writable;
    writable.files[kTrusted].mode |= S_IWOTH;
    EXPECT_EQ(writable.judge(), PeerVerdict::UnsafeBundle);
    FakeSystem userOwnedFolder;
    userOwnedFolder.files["/opt/vaultine"].owner = kUid;
    EXPECT_EQ(userOwnedFolder.judge(), PeerVerdict::UnsafeBundle);
    FakeSystem linkedFolder;
    linkedFolder.files["/opt"].mode = S_IFLNK | 0777;
    EXPECT_EQ(linkedFolder.judge(), PeerVerdict::UnsafeBundle);
}

TEST(PeerIdentity, ATracedProcessOrOneItsUserCouldTraceIsRefused) {
    FakeSystem system;
    system.status = "Uid:\t1000\t1000\t1000\t1000\nTracerPid:\t4711\n";
    EXPECT_EQ(system.judge(), PeerVerdict::Traced);
    // The trusted program, dumpable: its /proc files are its user's, who may attach to it.
    FakeSystem dumpable;
    dumpable.procOwner = kUid;
    EXPECT_EQ(dumpable.judge(), PeerVerdict::Dumpable);
    FakeSystem unknown;
    unknown.procOwner = 4711;
    EXPECT_EQ(unknown.judge(), PeerVerdict::Dumpable);
}

TEST(PeerIdentity, LoaderVariablesAreRefused) {
    for (const char* variable : {"LD_PRELOAD=/tmp/x.so", "LD_LIBRARY_PATH=/tmp",
                                 "LD_AUDIT=/tmp/a.so", "QT_PLUGIN_PATH=/tmp"}) {
        FakeSystem system;
        system.environ += std::string(variable) + std::string(1, '\0');
        EXPECT_EQ(system.judge(), PeerVerdict::LoaderVariables) << variable;
    }
    EXPECT_FALSE(hasLoaderVariables(std::string("XLD_PRELOAD=x\0", 14)));
}

TEST(PeerIdentity, AVaultineToldToDrawOffTheScreenIsRefused) {
    const std::string nul(1, '\0');
    for (const std::string& environ :
         {"QT_QPA_PLATFORM=offscreen" + nul, "QT_QPA_PLATFORM=vnc" + nul}) {
        FakeSystem system;
        system.environ += environ;
        EXPECT_EQ(system.judge(), PeerVerdict::UnseenWindowSystem) << environ;
    }
    for (const std::string& arguments :
         {"-platform" + nul + "minimal" + nul, "--platform=offscreen" + nul}) {
        FakeSystem system;
        system.commandLine += arguments;
        EXPECT_EQ(system.judge(), PeerVerdict::UnseenWindowSystem) << arguments;
    }
    FakeSystem onTheScreen;
    onTheScreen.environ += "QT_QPA_PLATFORM=xcb" + nul;
    onTheScreen.commandLine += "-platform" + nul + "wayland;xcb" + nul + "-psn_0" + nul;
    EXPECT_EQ(onTheScreen.judge(), PeerVerdict::Genuine);
}

TEST(PeerIdentity, AReusedOrVanishedPidIsNeverTakenForThePeer) {
    FakeSystem reusedBefore;
    reusedBefore.stats = {statWithStart(6000)};
    EXPECT_EQ(reusedBefore.judge(), PeerVerdict::PidReused);
    // The peer ends while its files are read, and a new process takes the pid.
    FakeSystem reusedDuring;
    reusedDuring.stats = {statWithStart(5000), statWithStart(7000)};
    EXPECT_EQ(reusedDuring.judge(), PeerVerdict::PidReused);
    FakeSystem gone;
    gone.stats = {"garbage"};
    EXPECT_EQ(gone.judge(), PeerVerdict::ProcessGone);
}

TEST(PeerIdentity, AnotherUsersProcessIsRefused) {
    FakeSystem system;
    system.status = "Uid:\t1000\t0\t0\t0\nTracerPid:\t0\n";
    EXPECT_EQ(system.judge(), PeerVerdict::OtherUser);
}

TEST(PeerIdentity, AStoppedTracedOrEndedPeerNoLongerAnswers) {
    const auto answers = [](FakeSystem& system) {
        return peerAnswers(kPid, 5000, system.readers());
    };
    FakeSystem running;
    EXPECT_TRUE(answers(running));
    for (const char state : {'T', 't', 'Z', 'X'}) {
        FakeSystem stopped;
        stopped.stats = {statWithStart(5000, state)};
        EXPECT_FALSE(answers(stopped)) << state;
    }
    FakeSystem traced;
    traced.status = "Uid:\t1000\t1000\t1000\t1000\nTracerPid:\t4711\n";
    EXPECT_FALSE(answers(traced));
    FakeSystem dumpable;
    dumpable.procOwner = kUid;
    EXPECT_FALSE(answers(dumpable));
    FakeSystem reused;
    reused.stats = {statWithStart(6000)};
    EXPECT_FALSE(answers(reused));
    EXPECT_EQ(stateOfStat("1 (a) b) T 1"), 'T');
    EXPECT_EQ(stateOfStat("1 (a)"), std::nullopt);
}

TEST(PeerIdentity, StartTimeIsField22AfterTheName) {
    EXPECT_EQ(startTimeOfStat(statWithStart(987654)), 987654u);
    EXPECT_EQ(startTimeOfStat("1 (a) b) S 1 2 3"), std::nullopt);
    EXPECT_EQ(startTimeOfStat(""), std::nullopt);
    EXPECT_EQ(statusField("Name:\tx\nTracerPid:\t12\n", "TracerPid"), "12");
    EXPECT_EQ(statusField("Name:\tx\n", "Tracer"), std::nullopt);
}

TEST(PeerIdentity, AVaultineDrawingOnADisplayOtherThanItsSessionsIsRefused) {
    const std::string nul(1, '\0');
    const std::string x11 =
        "# This is private data. Do not parse.\nUID=1000\nUSER=u\nACTIVE=1\n"
        "TYPE=x11\nDISPLAY=:0\nLEADER=900\n";
    const auto drawingWith = [&](const std::string& environ, const std::string& session) {
        FakeSystem system;
        system.environ += environ;
        system.logind = {{"sessions/2", session}, {"users/1000", "RUNTIME=/run/user/1000\n"}};
        return system.judgeItsDisplay();
    };
    // Where logind keeps no record (a container, a test), the display is not judged.
    FakeSystem noLogind;
    noLogind.environ += "DISPLAY=:5" + nul;
    EXPECT_EQ(noLogind.judgeItsDisplay(), PeerVerdict::Genuine);

    for (const char* display : {":0", ":0.0", "unix:0", "unix:0.1"})
        EXPECT_EQ(drawingWith("DISPLAY=" + std::string(display) + nul, x11), PeerVerdict::Genuine)
            << display;
    // A nested or virtual X server, one reached over TCP, none, or a compositor of the user's own
    // in an X11 session.
    for (const std::string& environ :
         {"DISPLAY=:1" + nul, "DISPLAY=localhost:0" + nul, std::string(),
          "DISPLAY=:0" + nul + "WAYLAND_DISPLAY=wayland-1" + nul,
          "DISPLAY=:0" + nul + "QT_QPA_PLATFORM=wayland" + nul})
        EXPECT_EQ(drawingWith(environ, x11), PeerVerdict::OtherDisplay) << environ;
    FakeSystem nestedByArgument;
    nestedByArgument.environ += "DISPLAY=:0" + nul;
    nestedByArgument.commandLine += "-display" + nul + ":1" + nul;
    nestedByArgument.logind = {{"sessions/2", x11}};
    EXPECT_EQ(nestedByArgument.judgeItsDisplay(), PeerVerdict::OtherDisplay);
    EXPECT_EQ(drawingWith("DISPLAY=:0" + nul + "WAYLAND_DISPLAY=wayland-1" + nul +
                              "QT_QPA_PLATFORM=xcb" + nul,
                          x11),
              PeerVerdict::Genuine);

    const std::string wayland = "UID=1000\nTYPE=wayland\nDISPLAY=\n";
    const std::string runtime =
        "XDG_SESSION_TYPE=wayland" + nul + "XDG_RUNTIME_DIR=/run/user/1000/" + nul;
    for (const std::string& environ : {runtime + "WAYLAND_DISPLAY=wayland-0" + nul, runtime,
                                       "WAYLAND_DISPLAY=/run/user/1000/wayland-1" + nul,
                                       // X11 by choice: logind does not tell Xwayland's display.
                                       runtime + "QT_QPA_PLATFORM=xcb" + nul + "DISPLAY=:7" + nul})
        EXPECT_EQ(drawingWith(environ, wayland), PeerVerdict::Genuine) << environ;
    for (const std::string& environ :
         {runtime + "WAYLAND_DISPLAY=/tmp/nested" + nul,
          "XDG_RUNTIME_DIR=/tmp/mine" + nul + "WAYLAND_DISPLAY=wayland-0" + nul,
          runtime + "WAYLAND_DISPLAY=../../../tmp/nested" + nul,
          runtime + "WAYLAND_SOCKET=3" + nul})
        EXPECT_EQ(drawingWith(environ, wayland), PeerVerdict::OtherDisplay) << environ;
}

TEST(PeerIdentity, TheSessionIsTheOneLogindPutThePeerInElseTheUsersGraphicalOne) {
    const std::string nul(1, '\0');
    const std::string onZero = "UID=1000\nTYPE=x11\nDISPLAY=:0\n";
    const std::string onFive = "UID=1000\nTYPE=x11\nDISPLAY=:5\n";
    const auto drawingOnFive = [&](const std::string& cgroup,
                                   std::map<std::string, std::string> logind) {
        FakeSystem system;
        system.environ += "DISPLAY=:5" + nul;
        system.cgroup = cgroup;
        system.logind = std::move(logind);
        return system.judgeItsDisplay();
    };
    // Started by the user's service manager, in no session's scope: the user's graphical session.
    const std::string service =
        "0::/user.slice/user-1000.slice/user@1000.service/app.slice/vaultine.scope\n";
    EXPECT_EQ(drawingOnFive(service, {{"users/1000", "DISPLAY=2\n"}, {"sessions/2", onZero}}),
              PeerVerdict::OtherDisplay);
    // A folder named like a session's scope inside the user's own subtree is not one.
    EXPECT_EQ(drawingOnFive(
                  "0::/user.slice/user-1000.slice/user@1000.service/session-3.scope\n",
                  {{"users/1000", "DISPLAY=2\n"}, {"sessions/2", onZero}, {"sessions/3", onFive}}),
              PeerVerdict::OtherDisplay);
    // In a text session (ssh), the user's graphical one is judged; another user's is not taken.
    EXPECT_EQ(drawingOnFive("1:name=systemd:/user.slice/user-1000.slice/session-4.scope\n",
                            {{"sessions/4", "UID=1000\nTYPE=tty\n"},
                             {"users/1000", "DISPLAY=2\n"},
                             {"sessions/2", onZero}}),
              PeerVerdict::OtherDisplay);
    EXPECT_EQ(drawingOnFive(service, {{"users/1000", "DISPLAY=2\n"},
                                      {"sessions/2", "UID=1001\nTYPE=x11\nDISPLAY=:0\n"}}),
              PeerVerdict::Genuine);

    EXPECT_EQ(sessionOfCgroup("12:cpu:/user.slice/user-1000.slice/session-9.scope\n"
                              "0::/user.slice/user-1000.slice/session-c2.scope\n"),
              "c2");
    for (const char* cgroup :
         {"", "0::/", "0::/user.slice/user-1000.slice/session-.scope",
          "0::/user.slice/user-1000.slice/session-../x.scope", "0::/system.slice/session-2.scope",
          "0::/user.slice/user-1000.slice/session-2.scope/inner"})
        EXPECT_EQ(sessionOfCgroup(cgroup), std::nullopt) << cgroup;
    EXPECT_EQ(recordField("A=1\nTYPE=x11\nTYPEX=y\n", "TYPE"), "x11");
    EXPECT_EQ(recordField("ATYPE=x11\n", "TYPE"), std::nullopt);
    EXPECT_FALSE(sameXDisplay(":0", ":00x"));
    EXPECT_FALSE(sameXDisplay("host:0", ":0"));
    EXPECT_FALSE(sameXDisplay("", ""));
}
