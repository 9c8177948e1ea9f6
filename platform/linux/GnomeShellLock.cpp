// Enabling and trusting our GNOME Shell extension, the lock requests and signals it serves, and
// the socket the typed password comes through.
#include "platform/linux/GnomeShellLock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <QtGlobal>
#include <algorithm>
#include <cstring>

#include "platform/WindowSystem.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/ProcReader.h"
#include "platform/linux/WindowIdentity.h"

namespace platform {

namespace {

constexpr int callTimeoutMs = 3000;
constexpr const char* shellPath = "/org/gnome/Shell";
constexpr const char* extensionsInterface = "org.gnome.Shell.Extensions";
constexpr const char* shellProgram = "/usr/bin/gnome-shell";
// GNOME Shell's extension types and states (misc/extensionUtils.js).
constexpr int systemExtension = 1;
constexpr int extensionEnabled = 1;
constexpr int extensionDisabled = 2;
constexpr int extensionInitialized = 6;
constexpr qint64 reenableIntervalMs = 1000;
// Messages of the password socket read in one turn: one who floods it cannot hold the event loop.
constexpr int passwordMessagesPerTurn = 64;

// Root's, writable by root alone, and no symbolic link.
bool onlyRootWrites(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return false;
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The folder, every folder above it, and every entry in it.
bool folderOnlyRootWrites(const QString& folder) {
    for (QString path = QDir::cleanPath(folder); !path.isEmpty();) {
        if (!onlyRootWrites(path))
            return false;
        if (path == QStringLiteral("/"))
            break;
        path = QFileInfo(path).path();
    }
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink() ? !folderOnlyRootWrites(entry.filePath())
                                                : !onlyRootWrites(entry.filePath()))
            return false;
    }
    return true;
}

int intValue(const QVariantMap& info, const char* key) {
    bool ok = false;
    const double value = info.value(QLatin1String(key)).toDouble(&ok);
    return ok ? static_cast<int>(value) : -1;
}

void wipe(QByteArray& bytes) {
    if (!bytes.isEmpty())
        ::explicit_bzero(bytes.data(), static_cast<size_t>(bytes.size()));
    bytes.clear();
}

}  // namespace

PasswordRecords::~PasswordRecords() {
    wipe(pending);
}

QStringList PasswordRecords::feed(QByteArrayView bytes) {
    QStringList records;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\0');
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        overlong = overlong || pending.size() + piece.size() > MAX_RECORD_BYTES;
        if (overlong)
            wipe(pending);
        else
            pending.append(piece);
        if (end < 0)
            break;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(pending);
        if (!overlong && !utf8.hasError())
            records.append(text);
        wipe(pending);
        overlong = false;
        bytes = bytes.sliced(end + 1);
    }
    return records;
}

bool GnomeShellLock::desktopIsGnome(QByteArrayView currentDesktop) {
    const QList<QByteArray> desktops = currentDesktop.toByteArray().split(':');
    return std::any_of(desktops.begin(), desktops.end(),
                       [](const QByteArray& desktop) { return desktop == "GNOME"; });
}

bool GnomeShellLock::sessionWantsShellLock() {
    return sessionIsWayland() && !windowsAreX11() && desktopIsGnome(qgetenv("XDG_CURRENT_DESKTOP"));
}

bool GnomeShellLock::extensionInfoIsTrusted(const QVariantMap& info) {
    const QString path = info.value(QStringLiteral("path")).toString();
    return intValue(info, "type") == systemExtension && QDir::isAbsolutePath(path) &&
           folderOnlyRootWrites(path);
}

GnomeShellLock::GnomeShellLock(QDBusConnection bus) : bus(std::move(bus)) {
    onWindowCreated = [](pid_t process, const QString& windowClass, const QString& applicationId) {
        auto* workspace = dynamic_cast<LinuxWorkspace*>(&Workspace::shared());
        if (!workspace)
            return;
        WindowIdentity identity;
        identity.process = process;
        identity.className = windowClass;
        identity.desktopFileName = applicationId;
        workspace->windowsAppeared({identity});
    };
}

GnomeShellLock::~GnomeShellLock() = default;

bool GnomeShellLock::start() {
    if (!bus.isConnected() || !shellIsGenuine())
        return false;
    const QString service = QLatin1String(SHELL_SERVICE);
    bus.connect(service, QLatin1String(LOCK_PATH), QLatin1String(LOCK_INTERFACE),
                QStringLiteral("WindowCreated"), this, SLOT(windowCreated(uint, QString, QString)));
    bus.connect(service, QLatin1String(shellPath), QLatin1String(extensionsInterface),
                QStringLiteral("ExtensionStateChanged"), this,
                SLOT(extensionStateChanged(QString, QVariantMap)));
    if (!enableExtension()) {
        qWarning().noquote() << "GNOME Shell did not enable the extension" << EXTENSION_UUID;
        return false;
    }
    return registerWithExtension();
}

// The Shell is the owner of its name, running the system's program.
bool GnomeShellLock::shellIsGenuine() {
    const QDBusReply<uint> pid = bus.interface()->servicePid(QLatin1String(SHELL_SERVICE));
    shellProcess = pid.isValid() ? static_cast<pid_t>(pid.value()) : 0;
    return shellProcess > 0 && proc::readExecutable(shellProcess) == QLatin1String(shellProgram);
}

// A call of the Shell's extensions interface about our extension, answered within the bound.
QDBusMessage GnomeShellLock::callExtensions(const QString& method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(SHELL_SERVICE), QLatin1String(shellPath),
                                       QLatin1String(extensionsInterface), method);
    call << QString::fromLatin1(EXTENSION_UUID);
    return bus.call(call, QDBus::Block, callTimeoutMs);
}

bool GnomeShellLock::enableExtension() {
    const QDBusReply<bool> reply = callExtensions(QStringLiteral("EnableExtension"));
    return reply.isValid() && reply.value();
}

bool GnomeShellLock::extensionIsTrusted() {
    const QDBusReply<QVariantMap> reply = callExtensions(QStringLiteral("GetExtensionInfo"));
    if (reply.isValid() && extensionInfoIsTrusted(reply.value()))
        return true;
    qWarning().noquote() << "The GNOME Shell extension" << EXTENSION_UUID
                         << "is not the system's (a copy of the user's, or files others may "
                            "write); the lock is not drawn by it";
    return false;
}

bool GnomeShellLock::registerWithExtension() {
    answering = false;
    if (!extensionIsTrusted())
        return false;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(SHELL_SERVICE), QLatin1String(LOCK_PATH),
                                       QLatin1String(LOCK_INTERFACE), QStringLiteral("Register"));
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, callTimeoutMs);
    answering = reply.isValid();
    if (!answering)
        qWarning().noquote() << "The GNOME Shell extension does not answer:"
                             << reply.error().message();
    return answering;
}

void GnomeShellLock::extensionStateChanged(const QString& uuid, const QVariantMap& state) {
    if (uuid != QLatin1String(EXTENSION_UUID))
        return;
    const int now = intValue(state, "state");
    if (now == extensionEnabled) {
        if (!answering && registerWithExtension())
            showAgain();
        return;
    }
    answering = false;
    if (now != extensionDisabled && now != extensionInitialized) {
        qWarning().noquote() << "The GNOME Shell extension failed (state" << now
                             << "):" << state.value(QStringLiteral("error")).toString();
        return;
    }
    // Turned off (the Extensions application, gnome-extensions): turned on again at once, and at
    // most once a second, so that a setting that will not stay written does not keep us busy.
    if (!reenableTimer.isValid() || reenableTimer.hasExpired(reenableIntervalMs)) {
        qWarning().noquote() << "The GNOME Shell extension was turned off; enabling it again";
        reenableTimer.start();
        enableExtension();
    } else if (!reenablePending) {
        reenablePending = true;
        QTimer::singleShot(reenableIntervalMs - reenableTimer.elapsed(), this, [this] {
            reenablePending = false;
            if (!answering) {
                reenableTimer.start();
                enableExtension();
            }
        });
    }
}

void GnomeShellLock::showAgain() {
    if (!shown)
        return;
    const UniqueFd shellEnd = openPasswordSocket(shown->serial);
    if (!shellEnd) {
        qWarning().noquote() << "No socket for the lock's password:" << ::strerror(errno);
        answering = false;
        // Told on the next turn, once the caller of lock() has heard of this serial.
        QTimer::singleShot(0, this, [this, serial = shown->serial] {
            if (onLockRefused && shown && shown->serial == serial)
                onLockRefused(serial);
        });
        return;
    }
    callLock(QStringLiteral("Lock"),
             {shown->serial, shown->title, shown->icon, shown->message,
              QVariant::fromValue(QDBusUnixFileDescriptor(shellEnd.get()))});
    if (!shown->error.isEmpty())
        callLock(QStringLiteral("ShowError"), {shown->serial, shown->error});
}

unsigned GnomeShellLock::lock(const QString& title, const QString& icon, const QString& message) {
    shown = ShownLock{++lastSerial, title, icon, message, QString()};
    if (answering)
        showAgain();
    return lastSerial;
}

void GnomeShellLock::showError(unsigned serial, const QString& text) {
    if (!shown || shown->serial != serial)
        return;
    shown->error = text;
    if (answering)
        callLock(QStringLiteral("ShowError"), {serial, text});
}

// Sent on the next turn: a lock over a lock closes the old one and shows the new one in the same
// turn, and the Shell, which takes the new one in place, then ignores the old serial, so the
// screen is never left uncovered between the two.
void GnomeShellLock::unlock(unsigned serial) {
    if (!shown || shown->serial != serial)
        return;
    shown.reset();
    closePasswordSocket();
    QTimer::singleShot(0, this, [this, serial] { callLock(QStringLiteral("Unlock"), {serial}); });
}

// Sent without waiting, so that the lock reaches the Shell in this turn; a refusal is logged.
void GnomeShellLock::callLock(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(SHELL_SERVICE), QLatin1String(LOCK_PATH),
                                       QLatin1String(LOCK_INTERFACE), method);
    call.setArguments(arguments);
    const unsigned serial = arguments.value(0).toUInt();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method, serial](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (!finished->isError())
                    return;
                qWarning().noquote() << "The GNOME Shell extension refused" << method + ":"
                                     << finished->error().message();
                if (method == QLatin1String("Lock") && shown && shown->serial == serial) {
                    answering = false;
                    if (onLockRefused)
                        onLockRefused(serial);
                }
            });
}

// A socket pair rather than a pipe: a watcher of the bus receives a copy of every descriptor a
// message carries, so the Shell's end is not the Shell's alone; each message here carries its
// sender's process (SO_PASSCRED, which only root can forge), and only the Shell's are read. One
// message holds one record; non-blocking, so the Shell drops a text rather than wait for us.
UniqueFd GnomeShellLock::openPasswordSocket(unsigned serial) {
    closePasswordSocket();
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        return UniqueFd();
    UniqueFd ours(ends[0]), shells(ends[1]);
    const int on = 1;
    if (::setsockopt(ours.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        ::shutdown(ours.get(), SHUT_WR) != 0)
        return UniqueFd();
    auto socket = std::make_unique<PasswordSocket>();
    socket->serial = serial;
    socket->notifier = std::make_unique<QSocketNotifier>(ours.get(), QSocketNotifier::Read);
    socket->ours = std::move(ours);
    connect(socket->notifier.get(), &QSocketNotifier::activated, this,
            &GnomeShellLock::readPasswordSocket);
    passwordSocket = std::move(socket);
    return shells;
}

namespace {

// One message of the password socket: its bytes when the Shell's process sent it whole, else none
// (descriptors it carried closed). An empty message still carries its sender; the socket's end
// carries none.
struct SocketMessage {
    ssize_t got = 0;
    bool fromShell = false;
    bool ended = false;
    bool none = false;  // nothing to read now (or a failure, then ended too)
};

SocketMessage receiveMessage(int socket, char* buffer, size_t size, pid_t shell) {
    iovec data{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int) * 8)];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    SocketMessage received;
    do
        received.got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (received.got < 0 && errno == EINTR);
    if (received.got < 0) {
        received.none = true;
        received.ended = errno != EAGAIN;
        return received;
    }
    if (received.got == 0 && message.msg_controllen == 0) {
        received.none = received.ended = true;
        return received;
    }
    bool shellSent = false;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET)
            continue;
        if (header->cmsg_type == SCM_CREDENTIALS) {
            ucred sender{};
            std::memcpy(&sender, CMSG_DATA(header), sizeof sender);
            shellSent = shell > 0 && sender.pid == shell;
        } else if (header->cmsg_type == SCM_RIGHTS) {
            const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t index = 0; index < count; ++index) {
                int descriptor = -1;
                std::memcpy(&descriptor, CMSG_DATA(header) + index * sizeof(int), sizeof(int));
                ::close(descriptor);
            }
        }
    }
    received.fromShell = shellSent && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    return received;
}

}  // namespace

// What the socket holds now (a bounded number of messages; the notifier fires again for the rest),
// then the texts in order to the lock they were typed into; the socket ends when the Shell closed
// its end (the lock taken down, the extension turned off).
void GnomeShellLock::readPasswordSocket() {
    if (!passwordSocket)
        return;
    const unsigned serial = passwordSocket->serial;
    QStringList texts;
    char buffer[PIPE_BUF];
    bool ended = false;
    for (int count = 0; count < passwordMessagesPerTurn; ++count) {
        const SocketMessage message =
            receiveMessage(passwordSocket->ours.get(), buffer, sizeof buffer, shellProcess);
        if (message.none) {
            ended = message.ended;
            break;
        }
        if (message.fromShell)
            texts += passwordSocket->records.feed(QByteArrayView(buffer, message.got));
        ::explicit_bzero(buffer, sizeof buffer);
    }
    if (ended)
        closePasswordSocket();
    for (const QString& text : std::as_const(texts))
        passwordEntered(serial, text);
}

void GnomeShellLock::passwordEntered(uint serial, const QString& text) {
    if (onPasswordEntered && shown && shown->serial == serial)
        onPasswordEntered(serial, text);
}

// The notifier may be the one whose signal runs now: it goes on the next turn.
void GnomeShellLock::closePasswordSocket() {
    if (!passwordSocket)
        return;
    passwordSocket->notifier->setEnabled(false);
    passwordSocket->notifier.release()->deleteLater();
    passwordSocket.reset();
}

void GnomeShellLock::windowCreated(uint pid, const QString& windowClass,
                                   const QString& applicationId) {
    if (onWindowCreated && pid > 0)
        onWindowCreated(static_cast<pid_t>(pid), windowClass, applicationId);
}

}  // namespace platform
