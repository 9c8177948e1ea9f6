// The doubles every window test installs: an in-memory keyring and defaults database, a main
// queue stepped by the test, a global queue that runs at once, a fake workspace and a main bundle.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <memory>

#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"

namespace windows_test {

// A main queue whose blocks the test may run in any order, to stand for loads that finish in an
// order other than the one they started in.
class ReorderableMainQueue : public platform::MainQueue {
  public:
    void async(platform::Block block) override { pending.push_back(std::move(block)); }
    std::size_t pendingCount() const { return pending.size(); }
    void runAt(std::size_t index) {
        platform::Block block = std::move(pending.at(index));
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(index));
        block();
    }
    void runAll() {
        while (!pending.empty())
            runAt(0);
    }

  private:
    std::deque<platform::Block> pending;
};

class WindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto store = std::make_unique<platform::testing::FakeSecretStore>();
        secretStore = store.get();
        platform::SecretStore::install(std::move(store));
        platform::UserDefaults::install(
            std::make_unique<platform::testing::InMemoryUserDefaults>());
        auto queue = std::make_unique<ReorderableMainQueue>();
        mainQueue = queue.get();
        platform::MainQueue::install(std::move(queue));
        platform::GlobalQueue::install(std::make_unique<platform::testing::ImmediateGlobalQueue>());
        auto fakeWorkspace = std::make_unique<platform::testing::FakeWorkspace>();
        workspace = fakeWorkspace.get();
        platform::Workspace::install(std::move(fakeWorkspace));
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"),
                                             QStringLiteral(VAULTINE_BUNDLE_PATH));
        configuration = std::make_unique<ConfigurationAndPreferencesService>();
    }

    void TearDown() override {
        configuration.reset();
        // Windows and alerts left open by a test go before the doubles they may call into.
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
    }

    // Installs an application as a desktop entry in the fake workspace's one application folder.
    void installApplication(const QString& identifier, const QString& name) {
        if (workspace->folders.isEmpty())
            workspace->folders.append(applicationsFolder.path());
        const QString path = applicationsFolder.filePath(identifier + QStringLiteral(".desktop"));
        QFile entry(path);
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        workspace->installApplication(path, {identifier, name, identifier.section('.', -1)});
    }

    // Adds a running instance that the catalogue accepts as lockable.
    platform::RunningApplication runApplication(pid_t pid, const QString& identifier,
                                                const QString& name) {
        platform::RunningApplication application;
        application.processIdentifier = pid;
        application.localizedName = name;
        application.bundleIdentifier = identifier;
        application.executablePath = QStringLiteral("/usr/bin/") + name.toLower();
        application.bundlePath =
            QStringLiteral("/usr/share/applications/") + identifier + QStringLiteral(".desktop");
        workspace->running.push_back(application);
        return application;
    }

    // The alerts shown as sheets on the window, oldest first.
    static QList<QMessageBox*> sheetsOn(QWidget* window) {
        return window->findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly);
    }

    platform::testing::FakeSecretStore* secretStore = nullptr;
    ReorderableMainQueue* mainQueue = nullptr;
    platform::testing::FakeWorkspace* workspace = nullptr;
    std::unique_ptr<ConfigurationAndPreferencesService> configuration;
    QTemporaryDir applicationsFolder;
};

}  // namespace windows_test
