// The doubles every lock-screen widget test runs over: a manual main queue, a fake workspace,
// recorded presentation options and window guards, and this program's bundle identifier.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWindowGuards.h"
#include "platform/testing/FakeWorkspace.h"
#include "platform/testing/RecordingPresentationOptions.h"

class LockScreenFixture : public ::testing::Test {
  protected:
    static inline const QString ownIdentifier = QStringLiteral("org.vaultine.Vaultine");

    void SetUp() override {
        platform::testing::installMainBundle(ownIdentifier);
        queue =
            installed<platform::MainQueue>(std::make_unique<platform::testing::ManualMainQueue>());
        workspace =
            installed<platform::Workspace>(std::make_unique<platform::testing::FakeWorkspace>());
        options = installed<platform::PresentationOptions>(
            std::make_unique<platform::testing::RecordingPresentationOptions>());
        guards = installed<platform::WindowGuards>(
            std::make_unique<platform::testing::FakeWindowGuards>());
    }
    void TearDown() override {
        // Windows of closed controllers go at the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <typename Interface, typename Double>
    static Double* installed(std::unique_ptr<Double> instance) {
        Double* raw = instance.get();
        Interface::install(std::move(instance));
        return raw;
    }

    platform::testing::ManualMainQueue* queue = nullptr;
    platform::testing::FakeWorkspace* workspace = nullptr;
    platform::testing::RecordingPresentationOptions* options = nullptr;
    platform::testing::FakeWindowGuards* guards = nullptr;
};
