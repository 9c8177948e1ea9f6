// The doubles the central service's tests share: workspace, screens, keychain, defaults and a
// manual main queue, lock windows that record what was asked of them, plain cover widgets, and a
// scheduler whose steps the test runs.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "locking/ApplicationsLockerCentralService.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeGuard.h"
#include "platform/testing/FakeScreens.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"

// What one lock window was asked to do; outlives the window.
struct LockWindowRecord {
    QString message;
    bool shown = false;
    int closes = 0;
    int focuses = 0;
    int errors = 0;
    QString lastError;
    bool destroyed = false;
};

class FakeLockWindow : public LockWindow {
  public:
    explicit FakeLockWindow(std::shared_ptr<LockWindowRecord> record) : record(std::move(record)) {}
    ~FakeLockWindow() override { record->destroyed = true; }
    void showServiceWindow(const QString& message, const QIcon&) override {
        record->message = message;
        record->shown = true;
    }
    void closeServiceWindow() override { ++record->closes; }
    void focus() override { ++record->focuses; }
    void displayErrorMessage(const QString& text) override {
        ++record->errors;
        record->lastError = text;
    }

    std::shared_ptr<LockWindowRecord> record;
};

// The lock screen the tests install: lock windows and covers from the fixture's factories.
class TestLockScreen : public LockScreen {
  public:
    std::function<std::unique_ptr<LockWindow>()> makeWindow;
    std::function<std::unique_ptr<QWidget>(const platform::Screen&)> makeCoverOf;
    bool gate = false;

    std::unique_ptr<LockWindow> makeLockWindow() override { return makeWindow(); }
    std::unique_ptr<QWidget> makeCover(const platform::Screen& screen) override {
        return makeCoverOf(screen);
    }
    bool holdsUntilPassword() const override { return gate; }
};

class CentralServiceTest : public ::testing::Test {
  protected:
    using Clock = std::chrono::steady_clock;

    static inline const QString editorId = QStringLiteral("org.example.Editor");
    static inline const QString mailId = QStringLiteral("org.example.Mail");
    static inline const QString notesId = QStringLiteral("org.example.Notes");
    static inline const QString terminalId = QStringLiteral("org.gnome.Terminal");
    static inline const QString corvaneBundle =
        QStringLiteral("/opt/test/Vaultine.app/Contents/Library/LoginItems/Corvane.app");

    void SetUp() override;
    void TearDown() override;

    // The service over the doubles, with recording factories; created after the arrangement.
    ApplicationsLockerCentralService& makeService();
    // Installs an application the configuration can list, optionally locked.
    void install(const QString& identifier, const QString& name, bool locked);
    void storePassword(const QString& password = QStringLiteral("Secret 1"));
    // Runs or ends an instance of an installed application.
    void run(const QString& identifier, pid_t pid);
    void end(pid_t pid);

    ApplicationEntity entity(const QString& identifier) const;
    void willStart(const QString& identifier);
    void didStart(const QString& identifier);
    void terminated(const QString& identifier);
    void typePassword(const QString& text);

    // The lock windows made so far, oldest first, and the current one's record.
    std::vector<std::shared_ptr<LockWindowRecord>> windows;
    LockWindowRecord& current() { return *windows.back(); }
    std::optional<QString> cbaal() const;
    std::size_t shownCovers() const;
    std::size_t corvaneLaunches() const;
    // Runs the oldest scheduled step after moving the clock by its delay.
    bool runNextScheduled();

    platform::testing::FakeWorkspace* workspace = nullptr;
    platform::testing::FakeScreens* screens = nullptr;
    platform::testing::InMemoryUserDefaults* defaults = nullptr;
    platform::testing::FakeSecretStore* secrets = nullptr;
    platform::testing::ManualMainQueue* mainQueue = nullptr;
    platform::testing::FakeGuard* guard = nullptr;  // absent until a test connects it
    bool gate = false;  // the lock screen is the gate; set before makeService
    std::unique_ptr<ConfigurationAndPreferencesService> configuration;
    std::unique_ptr<ApplicationsLockerCentralService> service;
    std::map<QString, QString> names;
    struct Scheduled {
        std::chrono::milliseconds delay;
        std::function<void()> block;
    };
    std::vector<Scheduled> scheduled;
    Clock::time_point now{std::chrono::hours(1)};
};
