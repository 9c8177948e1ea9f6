// Loads of the lockable applications through the background runner, the options and the picks of
// the selection window.
#include "windows/SelectApplicationsWindowPresenter.h"

#include <algorithm>

#include "core/BackgroundRunner.h"
#include "storage/ConfigurationConstants.h"

SelectApplicationsWindowPresenter::SelectApplicationsWindowPresenter(
    ConfigurationAndPreferencesService& configuration)
    : windowController(std::make_unique<ApplicationsSelectWindowController>()),
      configurationAndPreferencesService(configuration),
      applicationsMonitorService(std::make_unique<ApplicationsMonitorService>()) {}

SelectApplicationsWindowPresenter::~SelectApplicationsWindowPresenter() {
    applicationsMonitorService->stopService();
}

void SelectApplicationsWindowPresenter::startService() {
    applicationsMonitorService->onApplicationDidStart = [this](const ApplicationEntity&) {
        runningApplicationsChanged();
    };
    applicationsMonitorService->onApplicationTerminated = [this](const ApplicationEntity&) {
        runningApplicationsChanged();
    };
    applicationsMonitorService->startService();
    windowController->onLockAdministrativeApplicationsOptionChanged = [this](bool lock) {
        lockAdministrativeApplicationsChanged(lock);
    };
    windowController->onShowRunningApplicationsOptionChanged = [this](bool runningOnly) {
        showRunningApplicationsChanged(runningOnly);
    };
    windowController->onApplicationSelected = [this](const ApplicationEntity& application) {
        applicationSelected(application);
    };
    windowController->showServiceWindow(
        {}, configurationAndPreferencesService.getLockAdministrativeApplications(),
        showRunningApplications);
    loadApplications();
}

void SelectApplicationsWindowPresenter::stopService() {
    applicationsMonitorService->stopService();
    windowController->closeServiceWindow();
}

void SelectApplicationsWindowPresenter::focus() {
    windowController->focus();
    // Applications unlocked from the popover since the last load belong in the list again.
    loadApplications();
}

void SelectApplicationsWindowPresenter::loadApplications() {
    const std::uint64_t generation = ++loadGeneration;
    const bool runningOnly = showRunningApplications;
    // The background step reaches nothing of the presenter: the catalogue is stateless and copied,
    // the configuration service outlives every window.
    const SystemApplicationsService catalogue = systemApplicationsService;
    ConfigurationAndPreferencesService* configuration = &configurationAndPreferencesService;
    const std::weak_ptr<int> presenterAlive = lifetime;
    BackgroundRunner().run(
        [this, generation, runningOnly, catalogue, configuration, presenterAlive] {
            auto applications = std::make_shared<std::vector<ApplicationEntity>>(
                collectLockableApplications(catalogue, *configuration, runningOnly));
            BackgroundRunner().runOnMainThread([this, generation, applications, presenterAlive] {
                if (presenterAlive.expired() || generation != loadGeneration)
                    return;
                windowController->displayApplicationsList(std::move(*applications));
            });
        });
}

std::vector<ApplicationEntity> SelectApplicationsWindowPresenter::collectLockableApplications(
    const SystemApplicationsService& catalogue, ConfigurationAndPreferencesService& configuration,
    bool runningApplicationsOnly) {
    std::vector<ApplicationEntity> candidates = runningApplicationsOnly
                                                    ? catalogue.lockableRunningApplications()
                                                    : catalogue.lockableApplications();
    const QStringList locked = configuration.getLockedApplicationsBundleIds();
    const QStringList excluded =
        configuration.getLockAdministrativeApplications()
            ? ConfigurationConstants::ADMINISTRATIVE_APPLICATIONS_BUNDLE_IDS
            : QStringList();
    std::erase_if(candidates, [&](const ApplicationEntity& application) {
        return locked.contains(application.bundleIdentifier, Qt::CaseSensitive) ||
               excluded.contains(application.bundleIdentifier, Qt::CaseSensitive);
    });
    return candidates;
}

void SelectApplicationsWindowPresenter::runningApplicationsChanged() {
    if (showRunningApplications)
        loadApplications();
}

void SelectApplicationsWindowPresenter::lockAdministrativeApplicationsChanged(bool lock) {
    configurationAndPreferencesService.setLockAdministrativeApplications(lock);
    loadApplications();
}

void SelectApplicationsWindowPresenter::showRunningApplicationsChanged(bool runningOnly) {
    showRunningApplications = runningOnly;
    loadApplications();
}

void SelectApplicationsWindowPresenter::applicationSelected(const ApplicationEntity& application) {
    configurationAndPreferencesService.addLockedApplicationBundleId(application.bundleIdentifier);
    loadApplications();
}
