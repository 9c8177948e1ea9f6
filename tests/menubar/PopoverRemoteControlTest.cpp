// The popover's "Show" method on the bus, as a second launch calls it, over a private
// peer-to-peer connection so that no session bus is needed.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusServer>
#include <QTemporaryDir>
#include <QTest>

#include "MenubarTestEnvironment.h"
#include "menubar/PopoverRemoteControl.h"

namespace {

using menubar_test::MenubarTest;

class PopoverRemoteControlTest : public MenubarTest {
  protected:
    void SetUp() override {
        MenubarTest::SetUp();
        server = std::make_unique<QDBusServer>(QStringLiteral("unix:dir=") + folder.path());
        QObject::connect(server.get(), &QDBusServer::newConnection,
                         [this](const QDBusConnection& connection) {
                             serverSide = std::make_unique<QDBusConnection>(connection);
                             control.registerOn(*serverSide);
                         });
        clientSide = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToPeer(server->address(), QStringLiteral("popover-client")));
        ASSERT_TRUE(QTest::qWaitFor([this] { return serverSide != nullptr; }, 5000));
    }
    void TearDown() override {
        QDBusConnection::disconnectFromPeer(QStringLiteral("popover-client"));
        MenubarTest::TearDown();
    }

    QTemporaryDir folder;
    PopoverRemoteControl control;
    std::unique_ptr<QDBusServer> server;
    std::unique_ptr<QDBusConnection> serverSide;
    std::unique_ptr<QDBusConnection> clientSide;
};

TEST_F(PopoverRemoteControlTest, ShowCallOpensThePopover) {
    int requests = 0;
    control.onShowRequest = [&] { ++requests; };

    const bool answered = PopoverRemoteControl::showInRunningInstance(QString(), *clientSide);

    EXPECT_TRUE(answered);
    EXPECT_EQ(requests, 1);
}

TEST_F(PopoverRemoteControlTest, ShowWithoutCallbackStillAnswers) {
    EXPECT_TRUE(PopoverRemoteControl::showInRunningInstance(QString(), *clientSide));
}

TEST(PopoverRemoteControlWithoutBus, ReportsThatNobodyAnswered) {
    const QDBusConnection none(QStringLiteral("no-such-connection"));

    EXPECT_FALSE(
        PopoverRemoteControl::showInRunningInstance(QStringLiteral("org.vaultine.Vaultine"), none));
    PopoverRemoteControl control;
    EXPECT_FALSE(control.registerOn(none));
}

}  // namespace
