// The catalogue of lockable applications over the workspace's application folders and running
// instances, the lockability rules with the Linux constants, and the start of Corvane.
#include "locking/SystemApplicationsService.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <set>

#include "platform/PairProtocol.h"
#include "storage/ConfigurationConstants.h"
#include "storage/Constants.h"

namespace {

// Deep enough for any real menu layout, shallow enough that a link farm cannot exhaust the stack.
constexpr int maximumScanDepth = 16;

const QString entrySuffix = QStringLiteral(".desktop");

void sortByLowerCasedName(std::vector<ApplicationEntity>& entities) {
    std::stable_sort(entities.begin(), entities.end(),
                     [](const ApplicationEntity& left, const ApplicationEntity& right) {
                         return left.name.toLower() < right.name.toLower();
                     });
}

// A folder's identity on disk, so that a folder reached again through a link is not scanned twice.
QString folderIdentity(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return {};
    return QStringLiteral("%1:%2").arg(status.st_dev).arg(status.st_ino);
}

}  // namespace

std::vector<ApplicationEntity> SystemApplicationsService::lockableApplications() const {
    std::vector<ApplicationEntity> result;
    std::set<QString> identifiers;
    for (const QString& folder : platform::Workspace::shared().applicationFolders()) {
        for (ApplicationEntity& entity : getLockableApplicationsFrom(folder)) {
            // The first folder in XDG order shadows the later ones.
            if (identifiers.insert(entity.bundleIdentifier).second)
                result.push_back(std::move(entity));
        }
    }
    sortByLowerCasedName(result);
    return result;
}

std::vector<ApplicationEntity> SystemApplicationsService::lockableRunningApplications() const {
    std::vector<ApplicationEntity> result;
    for (const platform::RunningApplication& application : runningNSApplications()) {
        if (isLockableApplication(application))
            result.push_back(ApplicationEntity::fromRunningApplication(application));
    }
    sortByLowerCasedName(result);
    return result;
}

std::vector<ApplicationEntity> SystemApplicationsService::getLockableApplicationsFrom(
    const QString& path) const {
    std::vector<ApplicationEntity> found;
    std::vector<QString> visited;
    scanFolder(path, 0, visited, found);
    return found;
}

void SystemApplicationsService::scanFolder(const QString& path, int depth,
                                           std::vector<QString>& visited,
                                           std::vector<ApplicationEntity>& found) const {
    const QString identity = folderIdentity(path);
    if (identity.isEmpty() || depth > maximumScanDepth ||
        std::find(visited.begin(), visited.end(), identity) != visited.end())
        return;
    visited.push_back(identity);
    const QDir folder(path);
    const QStringList names = folder.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString child = folder.filePath(name);
        if (name.endsWith(entrySuffix)) {
            std::optional<ApplicationEntity> entity = ApplicationEntity::fromApplicationPath(child);
            if (entity && isLockableApplicationEntity(*entity))
                found.push_back(std::move(*entity));
        }
        // Sub-folders without an extension are menus of their own; plain files fail to list.
        if (!name.toLower().contains(entrySuffix) && QFileInfo(name).suffix().isEmpty())
            scanFolder(child, depth + 1, visited, found);
    }
}

std::vector<ApplicationEntity> SystemApplicationsService::administrativeApplications() const {
    std::vector<ApplicationEntity> result;
    for (const QStringList* group : {&ConfigurationConstants::TERMINAL_BUNDLE_IDS,
                                     &ConfigurationConstants::KEYRING_MANAGER_BUNDLE_IDS,
                                     &ConfigurationConstants::SYSTEM_MONITOR_BUNDLE_IDS}) {
        for (const QString& identifier : *group) {
            if (std::optional<ApplicationEntity> entity =
                    ApplicationEntity::fromBundleIdentifier(identifier))
                result.push_back(std::move(*entity));
        }
    }
    return result;
}

bool SystemApplicationsService::isLockableApplicationEntity(const ApplicationEntity& entity) const {
    if (ConfigurationConstants::WHITE_LIST_APPLICATIONS_BUNDLE_IDS.contains(
            entity.bundleIdentifier))
        return true;
    return !ConfigurationConstants::BANNED_APPLICATIONS_BUNDLE_IDS().contains(
        entity.bundleIdentifier);
}

bool SystemApplicationsService::isLockableApplication(
    const platform::RunningApplication& runningApp) const {
    if (ConfigurationConstants::WHITE_LIST_APPLICATIONS_BUNDLE_IDS.contains(
            runningApp.bundleIdentifier))
        return true;
    return runningApp.activationPolicy != platform::ActivationPolicy::prohibited &&
           !runningApp.localizedName.isEmpty() && !runningApp.executablePath.isEmpty() &&
           !runningApp.bundlePath.isEmpty() &&
           !ConfigurationConstants::BANNED_APPLICATIONS_BUNDLE_IDS().contains(
               runningApp.bundleIdentifier) &&
           !runningApp.executablePath.startsWith(
               ConfigurationConstants::SYSTEM_APPLICATION_PATH_PREFIX);
}

std::vector<platform::RunningApplication> SystemApplicationsService::runningNSApplications() const {
    return platform::Workspace::shared().runningApplications();
}

std::optional<ApplicationEntity> SystemApplicationsService::applicationIsRunning(
    const QString& id) const {
    const std::vector<platform::RunningApplication> instances =
        platform::Workspace::shared().runningApplicationsWithBundleIdentifier(id);
    if (instances.empty())
        return std::nullopt;
    return ApplicationEntity::fromRunningApplication(instances.front());
}

void SystemApplicationsService::focusOnApplication(const QString& id) const {
    auto& workspace = platform::Workspace::shared();
    const std::vector<platform::RunningApplication> instances =
        workspace.runningApplicationsWithBundleIdentifier(id);
    if (!instances.empty())
        workspace.activate(instances.front());
}

void SystemApplicationsService::startHelperApplication() const {
    const QString mainBundle = platform::MainBundle::shared().bundlePath();
    // Outside a bundle there is no Corvane to start; a relative path would resolve anywhere.
    if (mainBundle.isEmpty())
        return;
    QString helper = mainBundle;
    for (const QString& component : {QStringLiteral("Contents"), QStringLiteral("Library"),
                                     QStringLiteral("LoginItems"), Constants::HELPER_APP_NAME})
        helper = QDir(helper).filePath(component);
    platform::Workspace::shared().launchApplication(
        helper, {{platform::PairProtocol::START_FROM_MASTER_KEY, QStringLiteral("1")}});
}
