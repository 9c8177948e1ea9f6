// The logic of the selection window: computes the lockable applications off the main thread,
// applies the two options and adds a picked application to the locked list.
#pragma once

#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/ApplicationEntity.h"
#include "locking/ApplicationsMonitorService.h"
#include "locking/SystemApplicationsService.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "windows/ApplicationsSelectWindowController.h"

class SelectApplicationsWindowPresenter {
  public:
    explicit SelectApplicationsWindowPresenter(
        ConfigurationAndPreferencesService& configuration =
            ConfigurationAndPreferencesService::sharedInstance());
    ~SelectApplicationsWindowPresenter();

    // Starts the presenter's own monitor, wires the window, shows it empty and starts a load.
    void startService();
    void stopService();
    // Brings the window to the front and loads the list again.
    void focus();

    // Computes the list in the background and shows it on the main thread. Loads may overlap;
    // only the most recently started one is shown, so a load that began before a pick can never
    // bring the just-locked application back.
    void loadApplications();

    // The candidates (installed or running) without the locked applications and, while that
    // option is on, without the administrative ones. Reads the disk; runs off the main thread.
    static std::vector<ApplicationEntity> collectLockableApplications(
        const SystemApplicationsService& catalogue,
        ConfigurationAndPreferencesService& configuration, bool runningApplicationsOnly);

    ApplicationsSelectWindowController& applicationsSelectWindowController() {
        return *windowController;
    }
    bool showsRunningApplications() const { return showRunningApplications; }

  private:
    void runningApplicationsChanged();
    void lockAdministrativeApplicationsChanged(bool lock);
    void showRunningApplicationsChanged(bool runningOnly);
    void applicationSelected(const ApplicationEntity& application);

    std::unique_ptr<ApplicationsSelectWindowController> windowController;
    ConfigurationAndPreferencesService& configurationAndPreferencesService;
    std::unique_ptr<ApplicationsMonitorService> applicationsMonitorService;
    SystemApplicationsService systemApplicationsService;
    bool showRunningApplications = false;
    // Counts started loads; a finished load whose number is not the latest is dropped.
    std::uint64_t loadGeneration = 0;
    // Deferred steps hold a weak reference, so a load finishing after the presenter is gone does
    // nothing.
    std::shared_ptr<int> lifetime = std::make_shared<int>(0);
};
