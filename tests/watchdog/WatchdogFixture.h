// The doubles Corvane's tests share: a fake workspace and notification centre, Corvane's bundle
// inside a test Vaultine bundle, a clock the test moves and a scheduler whose steps the test runs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "platform/testing/Doubles.h"
#include "platform/testing/FakeDistributedNotificationCenter.h"
#include "platform/testing/FakeWorkspace.h"
#include "watchdog/ActivityMonitor.h"

class WatchdogTest : public ::testing::Test {
  protected:
    using Clock = std::chrono::steady_clock;

    struct Scheduled {
        std::chrono::milliseconds delay;
        std::function<void()> block;
    };

    static inline const QString vaultineBundle = QStringLiteral("/opt/test/Vaultine.app");

    void SetUp() override {
        platform::testing::installMainBundle(
            QStringLiteral("org.vaultine.Corvane"),
            vaultineBundle + QStringLiteral("/Contents/Library/LoginItems/Corvane.app"));
        auto fakeWorkspace = std::make_unique<platform::testing::FakeWorkspace>();
        workspace = fakeWorkspace.get();
        platform::Workspace::install(std::move(fakeWorkspace));
        auto center = std::make_unique<platform::testing::FakeDistributedNotificationCenter>();
        notifications = center.get();
        platform::DistributedNotificationCenter::install(std::move(center));
    }

    // Gives the monitor the test's clock, scheduler and exit.
    void prepare(corvane::ActivityMonitor& monitor) {
        monitor.relaunchThrottle.now = [this] { return now; };
        monitor.scheduleAfter = [this](std::chrono::milliseconds delay,
                                       std::function<void()> block) {
            scheduled.push_back({delay, std::move(block)});
        };
        monitor.exitProcess = [this](int status) { exitStatus = status; };
        // Presence comes from the fake workspace alone.
        monitor.masterHoldsItsName = [] { return false; };
    }

    // Runs the oldest scheduled step after moving the clock by its delay; false when none.
    bool runNextScheduled() {
        if (scheduled.empty())
            return false;
        Scheduled next = std::move(scheduled.front());
        scheduled.erase(scheduled.begin());
        now += next.delay;
        next.block();
        return true;
    }

    void vaultineRuns(pid_t pid = 100, const QString& bundle = vaultineBundle) {
        platform::RunningApplication vaultine;
        vaultine.processIdentifier = pid;
        vaultine.bundlePath = bundle;
        vaultine.bundleIdentifier = QStringLiteral("org.vaultine.Vaultine");
        vaultine.localizedName = QStringLiteral("Vaultine");
        vaultine.activationPolicy = platform::ActivationPolicy::accessory;
        workspace->running.push_back(vaultine);
        workspace->changeRunningApplications({{vaultine}, {}});
    }
    void vaultineEnds() {
        std::vector<platform::RunningApplication> removed;
        std::erase_if(workspace->running, [&](const platform::RunningApplication& application) {
            if (application.bundleIdentifier != QStringLiteral("org.vaultine.Vaultine"))
                return false;
            removed.push_back(application);
            return true;
        });
        workspace->changeRunningApplications({{}, removed});
    }
    void otherApplicationStarts() {
        platform::RunningApplication editor;
        editor.processIdentifier = 200;
        editor.bundleIdentifier = QStringLiteral("org.example.Editor");
        workspace->running.push_back(editor);
        workspace->changeRunningApplications({{editor}, {}});
    }

    platform::testing::FakeWorkspace* workspace = nullptr;
    platform::testing::FakeDistributedNotificationCenter* notifications = nullptr;
    Clock::time_point now = Clock::time_point(std::chrono::hours(1));
    std::vector<Scheduled> scheduled;
    std::optional<int> exitStatus;
};
