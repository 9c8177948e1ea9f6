// Corvane's program entry: no windows, one thread. It claims its bundle identifier on the session
// bus (a second Corvane ends at once), watches that Vaultine is alive, and hands over to its
// delegate once the loop runs.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "platform/MainBundle.h"
#include "platform/PairProtocol.h"
#include "platform/PeerLiveness.h"
#include "platform/SingleInstance.h"
#include "watchdog/AppDelegate.h"

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication application(argc, argv);
    QString identifier = platform::MainBundle::shared().bundleIdentifier();
    if (identifier.isEmpty())
        identifier = platform::PairProtocol::HELPER_BUNDLE_ID;
    if (!platform::SingleInstance::shared().claim(identifier))
        return 0;
    platform::PeerLiveness::answerPings();
    platform::PeerLiveness master(platform::PairProtocol::MASTER_BUNDLE_ID);
    master.printLine = [](const QString& line) { std::printf("%s\n", qUtf8Printable(line)); };
    master.start([&application](std::chrono::milliseconds delay, std::function<void()> check) {
        QTimer::singleShot(delay, &application, std::move(check));
    });
    corvane::AppDelegate delegate;
    // A Vaultine that answered once was ready: its end is a kill, answered by a start at once.
    master.onPeerReady = [&delegate] {
        if (corvane::ActivityMonitor* monitor = delegate.activityMonitor())
            monitor->relaunchThrottle.peerReady();
    };
    QTimer::singleShot(0, &application, [&delegate] { delegate.applicationDidFinishLaunching(); });
    application.exec();
    return 0;
}
