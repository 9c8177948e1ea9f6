// Vaultine's model of one application: its display name, bundle identifier and icon, built from
// an identifier, an application's path or a running instance.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/Workspace.h"

class ApplicationEntity {
  public:
    // Absent texts are stored as the empty string.
    ApplicationEntity(std::optional<QString> name, std::optional<QString> bundleIdentifier,
                      QIcon icon = {});

    // The installed application with that identifier; none when no such application is installed.
    static std::optional<ApplicationEntity> fromBundleIdentifier(const QString& identifier);
    // The application whose desktop entry or bundle lies at the path; none when it cannot be read
    // or declares no identifier. Without a name it is called by its executable, else "Unnamed".
    static std::optional<ApplicationEntity> fromApplicationPath(const QString& path);
    static ApplicationEntity fromRunningApplication(
        const platform::RunningApplication& application);

    // The text form of an entity is its bundle identifier.
    const QString& description() const { return bundleIdentifier; }

    // Every identifier the entity answers to: its own, then the other applications that claim
    // the same run.
    QStringList identifiers() const {
        return QStringList{bundleIdentifier} + otherBundleIdentifiers;
    }

    QString name;
    QString bundleIdentifier;
    QIcon icon;  // null when absent
    // Of an entity made from a running instance: the other applications that claim it, and the
    // run itself (process id and start time; 0 for entities of installed applications).
    QStringList otherBundleIdentifiers;
    pid_t processIdentifier = 0;
    unsigned long long processStartTime = 0;
};
