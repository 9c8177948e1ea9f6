// The /proc readers of the process watcher: systemd unit and snap names, this process's own files,
// and a process that does not exist.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/ProcReader.h"

namespace {

using namespace platform::proc;

TEST(SystemdUnitNames, ScopeWithLauncherGivesTheIdWithoutAndWithTheLauncher) {
    EXPECT_EQ(applicationIdsOfUnit("app-gnome-firefox-1234.scope"),
              std::vector<QString>({"firefox", "gnome-firefox"}));
}

TEST(SystemdUnitNames, ServiceWithoutLauncherGivesTheId) {
    EXPECT_EQ(applicationIdsOfUnit("app-org.gnome.Terminal@8f2c.service"),
              std::vector<QString>({"org.gnome.Terminal"}));
}

TEST(SystemdUnitNames, EscapedDashesBelongToTheId) {
    EXPECT_EQ(applicationIdsOfUnit("app-gnome-my\\x2dtool-77.scope"),
              std::vector<QString>({"my-tool", "gnome-my-tool"}));
}

TEST(SystemdUnitNames, OtherUnitsAreNoApplication) {
    EXPECT_TRUE(applicationIdsOfUnit("session-2.scope").empty());
    EXPECT_TRUE(applicationIdsOfUnit("app-.scope").empty());
    EXPECT_TRUE(applicationIdsOfUnit("app-x.mount").empty());
    EXPECT_TRUE(applicationIdsOfUnit("").empty());
}

TEST(SnapCgroups, NewScopeNamesGiveTheDesktopId) {
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.firefox.firefox.4b1c9a2e-1f.scope"), "firefox_firefox");
}

TEST(SnapCgroups, OlderScopeNamesDropThePid) {
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.gimp.gimp-4321.scope"), "gimp_gimp");
}

TEST(SnapCgroups, OtherCgroupsAreNoSnap) {
    EXPECT_EQ(snapDesktopIdOfCgroup("app-gnome-firefox-1234.scope"), "");
    EXPECT_EQ(snapDesktopIdOfCgroup("snap..x.scope"), "");
}

TEST(ProcessFiles, OwnStatusIsRead) {
    const auto status = readStatus(::getpid());

    ASSERT_TRUE(status);
    EXPECT_EQ(status->parent, ::getppid());
    EXPECT_EQ(status->processGroup, ::getpgrp());
    EXPECT_EQ(status->owner, ::geteuid());
    EXPECT_FALSE(status->executable.isEmpty());
    EXPECT_EQ(readStartTime(::getpid()), status->startTime);
}

TEST(ProcessFiles, OwnEnvironmentValueIsFound) {
    ASSERT_EQ(::setenv("VAULTINE_UNSEEN_LATER", "1", 1), 0);

    // The initial environment is what /proc shows; a variable set later is not in it.
    EXPECT_FALSE(readEnvironmentValue(::getpid(), "VAULTINE_UNSEEN_LATER"));
    EXPECT_TRUE(readEnvironmentValue(::getpid(), "PATH").has_value());
}

TEST(ProcessFiles, VanishedProcessGivesNothing) {
    const pid_t absent = 0x3ffffff0;

    EXPECT_FALSE(readStatus(absent));
    EXPECT_FALSE(readStartTime(absent));
    EXPECT_EQ(readExecutable(absent), "");
    EXPECT_FALSE(readEnvironmentValue(absent, "PATH"));
    EXPECT_EQ(readCgroupLeaf(absent), "");
    EXPECT_EQ(readFlatpakApplication(absent), "");
}

TEST(ProcessFiles, ListIncludesThisProcess) {
    const std::vector<pid_t> pids = listProcesses();

    EXPECT_TRUE(std::binary_search(pids.begin(), pids.end(), ::getpid()));
}

}  // namespace
