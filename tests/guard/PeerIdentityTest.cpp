// The genuine Vaultine: each way a client can fail to be it is refused.
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
            return name == "status" ? status : environ;
        };
        readers.executable = [this](pid_t) { return std::optional(running); };
        readers.path = [this](const std::string& path) -> std::optional<FileStatus> {
            const auto found = files.find(path);
            return found == files.end() ? std::nullopt : std::optional(found->second);
        };
        return readers;
    }
    PeerVerdict judge() { return judgePeer(kPid, kUid, 5000, kTrusted, readers()); }
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

TEST(PeerIdentity, ATracedProcessIsRefused) {
    FakeSystem system;
    system.status = "Uid:\t1000\t1000\t1000\t1000\nTracerPid:\t4711\n";
    EXPECT_EQ(system.judge(), PeerVerdict::Traced);
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
