// Placeholder Linux workspace: knows no applications until the desktop-entry catalogue and the
// process watcher replace it.
#include "platform/Workspace.h"

namespace platform {

namespace {

class EmptyWorkspace : public Workspace {
  public:
    QStringList applicationFolders() override { return {}; }
    QString absolutePathForAppBundleWithIdentifier(const QString&) override { return {}; }
    std::optional<BundleInfo> infoDictionaryForApplicationAtPath(const QString&) override {
        return std::nullopt;
    }
    QIcon iconForFile(const QString&) override { return {}; }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t) override {
        return std::nullopt;
    }
    std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
        const QString&) override {
        return {};
    }
    bool activate(const RunningApplication&) override { return false; }
    bool launchApplication(const QString&, const QMap<QString, QString>&) override { return false; }
    ObserverId addObserver(WorkspaceNotification, NotificationHandler) override { return 0; }
    ObserverId observeRunningApplications(RunningApplicationsHandler) override { return 0; }
    void removeObserver(ObserverId) override {}
};

}  // namespace

std::unique_ptr<Workspace> Workspace::createDefault() {
    return std::make_unique<EmptyWorkspace>();
}

}  // namespace platform
