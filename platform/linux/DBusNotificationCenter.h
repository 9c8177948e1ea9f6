// Distributed notifications as a D-Bus signal on the session bus: path
// "/org/vaultine/DistributedNotifications", interface "org.vaultine.DistributedNotifications",
// member "Posted" with the arguments (name, object).
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <map>

#include "platform/DistributedNotificationCenter.h"

namespace platform {

// One observer's match on the bus: the daemon filters on arg0 and arg1, and the receiver checks
// both again so that a broader rule (another program's) never reaches the handler.
class DBusNotificationReceiver : public QObject {
    Q_OBJECT

  public:
    DBusNotificationReceiver(QString name, QString object,
                             DistributedNotificationCenter::Handler handler);
    const QString name;
    const QString object;

  public Q_SLOTS:
    void posted(const QString& postedName, const QString& postedObject,
                const QDBusMessage& message);

  private:
    DistributedNotificationCenter::Handler handler;
};

class DBusNotificationCenter : public DistributedNotificationCenter {
  public:
    static inline const QString path = QStringLiteral("/org/vaultine/DistributedNotifications");
    static inline const QString interface = QStringLiteral("org.vaultine.DistributedNotifications");
    static inline const QString member = QStringLiteral("Posted");

    ~DBusNotificationCenter() override;

    bool postNotification(const QString& name, const QString& object) override;
    ObserverId addObserver(const QString& name, const QString& object, Handler handler) override;
    void removeObserver(ObserverId id) override;

  private:
    std::map<ObserverId, std::unique_ptr<DBusNotificationReceiver>> receivers;
    ObserverId nextId = 1;
};

}  // namespace platform
