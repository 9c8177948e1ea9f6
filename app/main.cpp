// Vaultine's program entry: closes the process to tracers, claims the bundle identifier on the
// session bus (a second Vaultine asks the running one to open its popover and ends at once), makes
// the delegate the application's, watches that Corvane is alive, and runs the main loop until
// SafeQuitService ends the process.
#include <QApplication>
#include <QDBusConnection>
#include <QTimer>
#include <cstdio>
#include <vector>

#include "app/AppDelegate.h"
#include "menubar/PopoverRemoteControl.h"
#include "platform/PairProtocol.h"
#include "platform/PeerLiveness.h"
#include "platform/ProcessLimits.h"
#include "platform/SingleInstance.h"
#include "platform/WindowSystem.h"
#include "storage/Constants.h"

int main(int argc, char** argv) {
    // Before any thread or library starts: from here on a program of the user can neither attach
    // to us and speak for us to the system guard, nor read the password from our memory.
    const bool closed = platform::closeToTracers();
    // Diagnostics are read line by line by whoever watches standard output.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!closed)
        std::printf(
            "Vaultine could not make itself non-dumpable: other programs of the user may "
            "attach to it, and the system guard will not take it\n");
    // The processes a user starts must not leave us without a descriptor to record a lock.
    platform::raiseDescriptorLimit();
    // In a Wayland session our windows are Wayland clients, whatever the toolkit would pick.
    std::vector<char*> arguments =
        platform::toolkitArguments(argc, argv, platform::sessionIsWayland());
    int argumentCount = static_cast<int>(arguments.size()) - 1;
    QApplication application(argumentCount, arguments.data());
    QString identifier = Constants::BUNDLE_ID();
    if (identifier.isEmpty())
        identifier = platform::PairProtocol::MASTER_BUNDLE_ID;
    if (!platform::SingleInstance::shared().claim(identifier)) {
        // Started again by the user (there may be no tray to click): the running Vaultine opens
        // its popover. A relaunch by Corvane that lost a race opens nothing.
        if (!platform::PairProtocol::launchedWith(
                platform::PairProtocol::RESTARTED_FROM_HELPER_KEY))
            PopoverRemoteControl::showInRunningInstance(identifier, QDBusConnection::sessionBus());
        return 0;
    }
    platform::reportWindowSystem();
    platform::PeerLiveness::answerPings();
    platform::PeerLiveness helper(platform::PairProtocol::HELPER_BUNDLE_ID);
    helper.printLine = [](const QString& line) { std::printf("%s\n", qUtf8Printable(line)); };
    helper.start([&application](std::chrono::milliseconds delay, std::function<void()> check) {
        QTimer::singleShot(delay, &application, std::move(check));
    });
    AppDelegate delegate;
    // A Corvane that answered once was ready: its end is a kill, answered by a start at once.
    helper.onPeerReady = [&delegate] {
        if (ApplicationsLockerCentralService* service = delegate.applicationsLockerCentralService())
            service->helperRelaunchThrottle.peerReady();
    };
    delegate.attach(application);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    application.exec();
    return 0;
}
