// The doubles every menu-bar test installs: an in-memory keyring and defaults database, a main
// queue stepped by the test, a fake workspace with a few applications, and Vaultine's bundle.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "core/ApplicationEntity.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"

namespace menubar_test {

class MenubarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SecretStore::install(std::make_unique<platform::testing::FakeSecretStore>());
        platform::UserDefaults::install(
            std::make_unique<platform::testing::InMemoryUserDefaults>());
        auto queue = std::make_unique<platform::testing::ManualMainQueue>();
        mainQueue = queue.get();
        platform::MainQueue::install(std::move(queue));
        platform::GlobalQueue::install(std::make_unique<platform::testing::ImmediateGlobalQueue>());
        auto fakeWorkspace = std::make_unique<platform::testing::FakeWorkspace>();
        workspace = fakeWorkspace.get();
        platform::Workspace::install(std::move(fakeWorkspace));
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        configuration = std::make_unique<ConfigurationAndPreferencesService>();
    }

    void TearDown() override {
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->hide();
        mainQueue->runAll();
    }

    // Installs an application under a desktop entry path of the fake workspace.
    void installApplication(const QString& identifier, const QString& name) {
        workspace->installApplication(
            QStringLiteral("/usr/share/applications/") + identifier + QStringLiteral(".desktop"),
            {identifier, name, identifier.section('.', -1)});
    }

    static std::vector<ApplicationEntity> entities(std::initializer_list<const char*> names) {
        std::vector<ApplicationEntity> list;
        for (const char* name : names)
            list.emplace_back(QString::fromLatin1(name),
                              QStringLiteral("org.example.") + QString::fromLatin1(name));
        return list;
    }

    platform::testing::ManualMainQueue* mainQueue = nullptr;
    platform::testing::FakeWorkspace* workspace = nullptr;
    std::unique_ptr<ConfigurationAndPreferencesService> configuration;
};

}  // namespace menubar_test
