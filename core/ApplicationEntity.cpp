// Building application entities from the workspace's installed and running applications.
#include "core/ApplicationEntity.h"

ApplicationEntity::ApplicationEntity(std::optional<QString> name,
                                     std::optional<QString> bundleIdentifier, QIcon icon)
    : name(name.value_or(QString())),
      bundleIdentifier(bundleIdentifier.value_or(QString())),
      icon(std::move(icon)) {}

std::optional<ApplicationEntity> ApplicationEntity::fromBundleIdentifier(
    const QString& identifier) {
    auto& workspace = platform::Workspace::shared();
    const QString path = workspace.absolutePathForAppBundleWithIdentifier(identifier);
    if (path.isEmpty())
        return std::nullopt;
    const std::optional<platform::BundleInfo> info =
        workspace.infoDictionaryForApplicationAtPath(path);
    return ApplicationEntity(info ? info->name : QString(), identifier,
                             workspace.iconForFile(path));
}

std::optional<ApplicationEntity> ApplicationEntity::fromApplicationPath(const QString& path) {
    auto& workspace = platform::Workspace::shared();
    const std::optional<platform::BundleInfo> info =
        workspace.infoDictionaryForApplicationAtPath(path);
    if (!info || info->identifier.isEmpty())
        return std::nullopt;
    QString name = info->name;
    if (name.isEmpty())
        name = info->executable;
    if (name.isEmpty())
        name = QStringLiteral("Unnamed");
    return ApplicationEntity(name, info->identifier, workspace.iconForFile(path));
}

ApplicationEntity ApplicationEntity::fromRunningApplication(
    const platform::RunningApplication& application) {
    ApplicationEntity entity(application.localizedName, application.bundleIdentifier,
                             application.icon);
    entity.otherBundleIdentifiers = application.otherBundleIdentifiers;
    entity.processIdentifier = application.processIdentifier;
    entity.processStartTime = application.processStartTime;
    return entity;
}
