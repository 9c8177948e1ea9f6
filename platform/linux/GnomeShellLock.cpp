// Enabling and trusting our GNOME Shell extension, the lock requests and signals it serves, and
// the pipe the typed password comes through.
#include "platform/linux/GnomeShellLock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
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
    return pid.isValid() && pid.value() > 0 &&
           proc::readExecutable(static_cast<pid_t>(pid.value())) == QLatin1String(shellProgram);
}

bool GnomeShellLock::enableExtension() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(SHELL_SERVICE), QLatin1String(shellPath), QLatin1String(extensionsInterface),
        QStringLiteral("EnableExtension"));
    call << QString::fromLatin1(EXTENSION_UUID);
    const QDBusReply<bool> reply = bus.call(call, QDBus::Block, callTimeoutMs);
    return reply.isValid() && reply.value();
}

bool GnomeShellLock::extensionIsTrusted() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(SHELL_SERVICE), QLatin1String(shellPath), QLatin1String(extensionsInterface),
        QStringLiteral("GetExtensionInfo"));
    call << QString::fromLatin1(EXTENSION_UUID);
    const QDBusReply<QVariantMap> reply = bus.call(call, QDBus::Block, callTimeoutMs);
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
    const UniqueFd writeEnd = openPasswordPipe(shown->serial);
    if (!writeEnd) {
        qWarning().noquote() << "No pipe for the lock's password:" << ::strerror(errno);
        answering = false;
        // Told on the next turn, once the caller of lock() has heard of this serial.
        QTimer::singleShot(0, this, [this, serial = shown->serial] {
            if (onLockRefused && shown && shown->serial == serial)
                onLockRefused(serial);
        });
        return;
    }
    // The message holds a copy of the write end until it is sent; afterwards only the Shell has
    // one, so that the pipe ends for us when the Shell closes it.
    callLock(QStringLiteral("Lock"),
             {shown->serial, shown->title, shown->icon, shown->message,
              QVariant::fromValue(QDBusUnixFileDescriptor(writeEnd.get()))});
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
    closePasswordPipe();
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

// Non-blocking on both ends: a record (at most PIPE_BUF bytes) either goes in whole or, when we
// do not read, is dropped by the Shell, which never waits for us.
UniqueFd GnomeShellLock::openPasswordPipe(unsigned serial) {
    closePasswordPipe();
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return UniqueFd();
    auto pipe = std::make_unique<PasswordPipe>();
    pipe->serial = serial;
    pipe->readEnd.reset(ends[0]);
    pipe->notifier = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
    connect(pipe->notifier.get(), &QSocketNotifier::activated, this,
            &GnomeShellLock::readPasswordPipe);
    passwordPipe = std::move(pipe);
    return UniqueFd(ends[1]);
}

// Everything the pipe holds now, then the texts in order to the lock they were typed into; the
// pipe ends when the Shell closed its end (the lock taken down, the extension turned off).
void GnomeShellLock::readPasswordPipe() {
    if (!passwordPipe)
        return;
    const unsigned serial = passwordPipe->serial;
    QStringList texts;
    char buffer[PIPE_BUF];
    bool ended = false;
    for (;;) {
        const ssize_t got = ::read(passwordPipe->readEnd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended = got == 0 || errno != EAGAIN;
            break;
        }
        texts += passwordPipe->records.feed(QByteArrayView(buffer, got));
        ::explicit_bzero(buffer, sizeof buffer);
    }
    if (ended)
        closePasswordPipe();
    for (const QString& text : std::as_const(texts))
        passwordEntered(serial, text);
}

void GnomeShellLock::passwordEntered(uint serial, const QString& text) {
    if (onPasswordEntered && shown && shown->serial == serial)
        onPasswordEntered(serial, text);
}

// The notifier may be the one whose signal runs now: it goes on the next turn.
void GnomeShellLock::closePasswordPipe() {
    if (!passwordPipe)
        return;
    passwordPipe->notifier->setEnabled(false);
    passwordPipe->notifier.release()->deleteLater();
    passwordPipe.reset();
}

void GnomeShellLock::windowCreated(uint pid, const QString& windowClass,
                                   const QString& applicationId) {
    if (onWindowCreated && pid > 0)
        onWindowCreated(static_cast<pid_t>(pid), windowClass, applicationId);
}

}  // namespace platform
