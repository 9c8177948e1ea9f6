// The session's window system: which environment makes a Wayland session, the toolkit platform it
// asks for unless one is chosen already, and the lock tier of each kind of session.
#include "platform/WindowSystem.h"

#include <gmock/gmock.h>

#include <QByteArray>
#include <QStringList>

#include "ScopedEnvironment.h"

namespace {

QStringList toolkitArgumentsOf(std::vector<const char*> given, bool waylandSession) {
    std::vector<char*> argv;
    for (const char* argument : given)
        argv.push_back(const_cast<char*>(argument));
    const std::vector<char*> result =
        platform::toolkitArguments(static_cast<int>(argv.size()), argv.data(), waylandSession);
    EXPECT_EQ(result.back(), nullptr);
    QStringList arguments;
    for (std::size_t i = 0; i + 1 < result.size(); ++i)
        arguments << QString::fromLocal8Bit(result[i]);
    return arguments;
}

}  // namespace

TEST(WindowSystem, WaylandWhenTheSessionTypeSaysSoOrAWaylandDisplayIsNamed) {
    EXPECT_TRUE(platform::isWaylandSession("wayland", ""));
    EXPECT_TRUE(platform::isWaylandSession("", "wayland-0"));
    EXPECT_TRUE(platform::isWaylandSession("x11", "wayland-1"));
    EXPECT_FALSE(platform::isWaylandSession("x11", ""));
    EXPECT_FALSE(platform::isWaylandSession("", ""));
    EXPECT_FALSE(platform::isWaylandSession("tty", ""));
    EXPECT_FALSE(platform::isWaylandSession("Wayland\n", ""));
}

TEST(WindowSystem, WaylandSessionAsksForTheWaylandPlatformUnlessOneIsChosen) {
    ScopedEnvironment environment("QT_QPA_PLATFORM", "");
    EXPECT_EQ(toolkitArgumentsOf({"Vaultine", "-psn_0"}, true),
              QStringList({"Vaultine", "-psn_0", "-platform", "wayland;xcb"}));
    EXPECT_EQ(toolkitArgumentsOf({"Vaultine", "-psn_0"}, false),
              QStringList({"Vaultine", "-psn_0"}));
    EXPECT_EQ(toolkitArgumentsOf({"Vaultine", "-platform", "xcb"}, true),
              QStringList({"Vaultine", "-platform", "xcb"}));
    environment.set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_EQ(toolkitArgumentsOf({"Vaultine"}, true), QStringList({"Vaultine"}));
}

TEST(WindowSystem, AnX11SessionKeepsItsCoversWhateverTheGateSwitchSays) {
    using platform::LockTier;
    EXPECT_EQ(platform::lockTierOf(false, false, false, ""), LockTier::x11Covers);
    EXPECT_EQ(platform::lockTierOf(false, false, true, "gate"), LockTier::x11Covers);
    EXPECT_EQ(platform::lockTierOf(true, false, false, ""), LockTier::gate);
    EXPECT_EQ(platform::lockTierOf(true, true, false, ""), LockTier::layerShellCovers);
    EXPECT_EQ(platform::lockTierOf(true, true, false, "gate"), LockTier::gate);
}

TEST(WindowSystem, GnomeOnWaylandIsTheShellExtensionsTierUnlessTheGateIsForced) {
    using platform::LockTier;
    EXPECT_EQ(platform::lockTierOf(true, false, true, ""), LockTier::gnomeShellExtension);
    EXPECT_EQ(platform::lockTierOf(true, false, true, "gate"), LockTier::gate);
    EXPECT_EQ(platform::lockTierOf(true, true, true, ""), LockTier::layerShellCovers);
}
