// The popover's door on the session bus: "Show" on the object "/org/vaultine/Popover" opens the
// running instance's popover. A second launch of Vaultine knocks on it, which is how a desktop
// without a tray still reaches the popover.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

class PopoverRemoteControl : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vaultine.Popover")

  public:
    static inline const QString OBJECT_PATH = QStringLiteral("/org/vaultine/Popover");
    static inline const QString INTERFACE = QStringLiteral("org.vaultine.Popover");

    explicit PopoverRemoteControl(QObject* parent = nullptr);
    ~PopoverRemoteControl() override;

    // Exports the object on the connection; false when there is no bus or the path is taken.
    bool registerOn(QDBusConnection connection);
    // Asks the program that owns `serviceName` on the connection to open its popover; false when
    // nobody answered within a second.
    static bool showInRunningInstance(const QString& serviceName, QDBusConnection connection);

    std::function<void()> onShowRequest;

  public Q_SLOTS:
    Q_SCRIPTABLE void Show();

  private:
    QString registeredConnection;
};
