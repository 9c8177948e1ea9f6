// Vaultine's side of its GNOME Shell extension (vaultine@vaultine.org): enables it, makes sure the
// Shell runs the system-installed copy, asks it to show and take down the lock, reads the typed
// password from a socket of the lock's own and hears every new window from it.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

#include "platform/linux/UniqueFd.h"

class QDBusMessage;
class QSocketNotifier;

namespace platform {

// The records the extension writes into a lock's password socket: each submitted text in UTF-8,
// ended by a NUL. A record longer than the bound, or not UTF-8, is dropped whole; the bytes kept
// between reads are wiped once used.
class PasswordRecords {
  public:
    // A record and its NUL fit in one message of PIPE_BUF bytes.
    static constexpr qsizetype MAX_RECORD_BYTES = 4095;

    ~PasswordRecords();
    // The records these bytes complete, in order.
    QStringList feed(QByteArrayView bytes);

  private:
    QByteArray pending;
    bool overlong = false;
};

// GNOME on Wayland offers an ordinary client no way to cover the screen or hold the keyboard: the
// lock there is drawn by the Shell itself, through our extension. It lives on the Shell's own bus
// connection (the name org.gnome.Shell, which no other program holds while the Shell runs) and
// takes requests only from our installed program.
class GnomeShellLock : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* EXTENSION_UUID = "vaultine@vaultine.org";
    static constexpr const char* SHELL_SERVICE = "org.gnome.Shell";
    static constexpr const char* LOCK_PATH = "/org/vaultine/ShellLock";
    static constexpr const char* LOCK_INTERFACE = "org.vaultine.ShellLock";

    // Whether a session whose desktop list (XDG_CURRENT_DESKTOP) is this names GNOME.
    static bool desktopIsGnome(QByteArrayView currentDesktop);
    // GNOME, a Wayland session, and our windows Wayland ones: where the extension draws the lock.
    static bool sessionWantsShellLock();

    // Whether the extension the Shell reports (GetExtensionInfo) is one only root could have
    // written: a system extension whose folder and files, and every folder above, are root's and
    // writable by root alone. A copy in the user's data folder shadows the system one, and would
    // be the user's to rewrite.
    static bool extensionInfoIsTrusted(const QVariantMap& info);

    explicit GnomeShellLock(QDBusConnection bus = QDBusConnection::sessionBus());
    ~GnomeShellLock() override;

    // Enables the extension and registers with it; afterwards follows its state, enabling it again
    // whenever it is turned off and showing the current lock again once it is back. True when it
    // answered now.
    bool start();
    // The extension answered our last registration and nothing has turned it off since.
    bool available() const { return answering; }

    // Shows the lock (a new serial replaces any other), shows an error line under it, or takes it
    // down. Each is a request to the Shell; a lock whose extension is off is shown when it is back.
    // Every request to show a lock hands the Shell one end of a new socket pair, so that the typed
    // text never travels on the bus, where any program of the user may watch.
    unsigned lock(const QString& title, const QString& icon, const QString& message);
    void showError(unsigned serial, const QString& text);
    void unlock(unsigned serial);

    // The text typed into the lock with this serial.
    std::function<void(unsigned serial, const QString& text)> onPasswordEntered;
    // The Shell refused to show the lock with this serial; the extension counts as not answering
    // until it registers again.
    std::function<void(unsigned serial)> onLockRefused;
    // A new window of the session: its client's process, its class (a Wayland app id) and the
    // application the Shell tied it to. By default it goes to the workspace's attribution.
    std::function<void(pid_t process, const QString& windowClass, const QString& applicationId)>
        onWindowCreated;

  private Q_SLOTS:
    // A text read from the socket of the lock with this serial: passed on while that lock is shown.
    void passwordEntered(uint serial, const QString& text);
    void windowCreated(uint pid, const QString& windowClass, const QString& applicationId);
    void extensionStateChanged(const QString& uuid, const QVariantMap& state);

  private:
    struct ShownLock {
        unsigned serial = 0;
        QString title, icon, message, error;
    };

    bool shellIsGenuine();
    QDBusMessage callExtensions(const QString& method);
    bool enableExtension();
    bool extensionIsTrusted();
    bool registerWithExtension();
    void showAgain();
    void callLock(const QString& method, const QVariantList& arguments);
    // A new socket pair for the shown lock, replacing any other; the Shell's end, or none.
    UniqueFd openPasswordSocket(unsigned serial);
    void readPasswordSocket();
    void closePasswordSocket();

    QDBusConnection bus;
    bool answering = false;
    QElapsedTimer reenableTimer;
    bool reenablePending = false;
    unsigned lastSerial = 0;
    std::optional<ShownLock> shown;
    // The Shell's process: the only sender whose messages on a password socket are read.
    pid_t shellProcess = 0;
    // Our end of the shown lock's password socket.
    struct PasswordSocket {
        unsigned serial = 0;
        UniqueFd ours;
        std::unique_ptr<QSocketNotifier> notifier;
        PasswordRecords records;
    };
    std::unique_ptr<PasswordSocket> passwordSocket;
};

}  // namespace platform
