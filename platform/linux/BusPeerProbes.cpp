// The peer check's questions put to the system: the bus daemon names the holder of a name, /proc
// tells its executable and state, and a method of our own, answered on the main loop, is the ping.
// The pair protocol's checks of a process and of a bus name are asked through the same probes.
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QObject>

#include "platform/MainBundle.h"
#include "platform/PairProtocol.h"
#include "platform/PeerLiveness.h"
#include "platform/linux/OwnBundles.h"
#include "platform/linux/ProcReader.h"

namespace platform {

namespace {

const QString pingPath = QStringLiteral("/org/vaultine/Liveness");
const QString pingInterface = QStringLiteral("org.vaultine.Liveness");

// Lives on the main thread: the bus delivers each call to it through the main loop, so a reply
// proves that loop runs (the bus library answers its own Peer.Ping from another thread).
class PingResponder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vaultine.Liveness")

  public:
    using QObject::QObject;

  public Q_SLOTS:
    Q_SCRIPTABLE void Ping() {}
};

pid_t nameHolder(const QString& busName) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return 0;
    const QDBusReply<uint> reply = bus.interface()->servicePid(busName);
    return reply.isValid() ? static_cast<pid_t>(reply.value()) : 0;
}

// Vaultine is not dumpable, so its executable cannot be read by a program of its user: a process of
// ours in that state counts as the expected bundle's program when the kernel names it after that
// program's file. The bus name it must hold besides is what sets it apart from the user's other
// processes; a program made to imitate it can pass, as one preloading a library into the bundle's
// own executable always could.
bool runsHiddenBundleExecutable(pid_t pid, const QString& bundle, const QString& bundleIdentifier) {
    const std::optional<BundleInfo> info = readBundleInfo(bundle);
    if (!info || info->identifier != bundleIdentifier || !proc::isUndumpableOfOurs(pid))
        return false;
    const std::optional<proc::StatFields> fields = proc::readStatFields(pid);
    // The kernel keeps the first 15 bytes of the name the program was started under.
    const QByteArray name = QFileInfo(bundleExecutable(bundle, *info)).fileName().toUtf8().left(15);
    return fields && !name.isEmpty() && fields->name.toUtf8() == name;
}

// The process runs the executable of the bundle where the pair expects this identifier's program;
// a copy of the bundle elsewhere, or a folder of the user's that declares the identifier, is not
// it.
bool runsBundle(pid_t pid, const QString& bundleIdentifier) {
    const QString executable = proc::readExecutable(pid);
    const QString expectedBundle = PairProtocol::expectedBundlePath(bundleIdentifier);
    if (executable.isEmpty() && !expectedBundle.isEmpty())
        return runsHiddenBundleExecutable(pid, expectedBundle, bundleIdentifier);
    const QString bundle =
        expectedBundle.isEmpty() ? enclosingBundlePath(executable) : expectedBundle;
    const std::optional<BundleInfo> info = bundle.isEmpty() ? std::nullopt : readBundleInfo(bundle);
    if (!info || info->identifier != bundleIdentifier)
        return false;
    const QString expected = QFileInfo(bundleExecutable(bundle, *info)).canonicalFilePath();
    return !expected.isEmpty() && expected == executable;
}

char state(pid_t pid) {
    const std::optional<proc::StatFields> fields = proc::readStatFields(pid);
    return fields ? fields->state : '\0';
}

void ping(const QString& busName, std::chrono::milliseconds timeout,
          PeerLiveness::PingReply reply) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reply(true);  // nobody to ask; the name check already found nothing to watch
        return;
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall(busName, pingPath, pingInterface, QStringLiteral("Ping"));
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, static_cast<int>(timeout.count())), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [reply = std::move(reply)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusError error = finished->error();
                         // Only silence is no answer: an error reply comes from a live peer
                         // (an older build without the method) or tells that it is gone.
                         reply(!error.isValid() || (error.type() != QDBusError::NoReply &&
                                                    error.type() != QDBusError::Timeout &&
                                                    error.type() != QDBusError::TimedOut));
                     });
}

void watchOwner(const QString& busName, std::function<void()> changed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance())
        return;
    auto* watcher = new QDBusServiceWatcher(busName, bus, QDBusServiceWatcher::WatchForOwnerChange,
                                            QCoreApplication::instance());
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
                     [changed = std::move(changed)] { changed(); });
}

}  // namespace

PeerLiveness::Probes PeerLiveness::systemProbes() {
    return Probes{&nameHolder, &runsBundle,
                  &state,      [](pid_t pid, int signal) { ::kill(pid, signal); },
                  &ping,       &watchOwner};
}

bool PairProtocol::isPairProcess(pid_t pid, const QString& bundleIdentifier) {
    return pid > 0 && PeerLiveness::systemProbes().runsBundle(pid, bundleIdentifier);
}

bool PairProtocol::holdsItsName(const QString& bundleIdentifier) {
    return PeerLiveness(bundleIdentifier).peerHoldsItsName();
}

void PeerLiveness::answerPings() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance())
        return;
    auto* responder = new PingResponder(QCoreApplication::instance());
    if (!bus.registerObject(pingPath, responder, QDBusConnection::ExportScriptableSlots))
        delete responder;
}

}  // namespace platform

#include "BusPeerProbes.moc"
