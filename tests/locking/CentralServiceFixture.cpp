// The central service's test doubles and the steps the tests take.
#include "tests/locking/CentralServiceFixture.h"

#include "storage/KeyConstants.h"

using namespace platform::testing;

void CentralServiceTest::SetUp() {
    installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
    auto secretStore = std::make_unique<FakeSecretStore>();
    secrets = secretStore.get();
    platform::SecretStore::install(std::move(secretStore));
    auto userDefaults = std::make_unique<InMemoryUserDefaults>();
    defaults = userDefaults.get();
    platform::UserDefaults::install(std::move(userDefaults));
    auto fakeWorkspace = std::make_unique<FakeWorkspace>();
    workspace = fakeWorkspace.get();
    platform::Workspace::install(std::move(fakeWorkspace));
    auto fakeScreens = std::make_unique<FakeScreens>();
    screens = fakeScreens.get();
    platform::Screens::install(std::move(fakeScreens));
    auto queue = std::make_unique<ManualMainQueue>();
    mainQueue = queue.get();
    platform::MainQueue::install(std::move(queue));
    auto fakeGuard = std::make_unique<FakeGuard>();
    guard = fakeGuard.get();
    platform::Guard::install(std::move(fakeGuard));
    configuration = std::make_unique<ConfigurationAndPreferencesService>();
}

void CentralServiceTest::TearDown() {
    service.reset();
    mainQueue->runAll();
}

ApplicationsLockerCentralService& CentralServiceTest::makeService() {
    auto lockScreen = std::make_unique<TestLockScreen>();
    lockScreen->gate = gate;
    lockScreen->makeWindow = [this] {
        windows.push_back(std::make_shared<LockWindowRecord>());
        return std::make_unique<FakeLockWindow>(windows.back());
    };
    lockScreen->makeCoverOf = [](const platform::Screen& screen) {
        auto cover = std::make_unique<QWidget>();
        cover->setGeometry(screen.frame);
        // The window system may nudge a window's position; the frame asked for is kept here.
        cover->setProperty("screenFrame", screen.frame);
        return cover;
    };
    service =
        std::make_unique<ApplicationsLockerCentralService>(*configuration, std::move(lockScreen));
    service->scheduleAfter = [this](std::chrono::milliseconds delay, std::function<void()> block) {
        scheduled.push_back({delay, std::move(block)});
    };
    service->helperRelaunchThrottle.now = [this] { return now; };
    return *service;
}

void CentralServiceTest::install(const QString& identifier, const QString& name, bool locked) {
    const QString path = QStringLiteral("/usr/share/applications/%1.desktop").arg(identifier);
    workspace->installApplication(path, {identifier, name, name.toLower(), false});
    names[identifier] = name;
    if (locked)
        configuration->addLockedApplicationBundleId(identifier);
}

void CentralServiceTest::storePassword(const QString& password) {
    configuration->setApplicationPassword(password);
}

void CentralServiceTest::run(const QString& identifier, pid_t pid) {
    platform::RunningApplication application;
    application.processIdentifier = pid;
    application.bundleIdentifier = identifier;
    application.localizedName = names[identifier];
    application.executablePath = QStringLiteral("/usr/bin/") + names[identifier].toLower();
    workspace->running.push_back(application);
}

void CentralServiceTest::end(pid_t pid) {
    std::erase_if(workspace->running, [pid](const platform::RunningApplication& application) {
        return application.processIdentifier == pid;
    });
}

ApplicationEntity CentralServiceTest::entity(const QString& identifier) const {
    const auto found = names.find(identifier);
    return ApplicationEntity(found == names.end() ? QString() : found->second, identifier);
}

void CentralServiceTest::willStart(const QString& identifier) {
    service->applicationsMonitorService().onApplicationWillStart(entity(identifier));
}

void CentralServiceTest::didStart(const QString& identifier) {
    service->applicationsMonitorService().onApplicationDidStart(entity(identifier));
}

void CentralServiceTest::terminated(const QString& identifier) {
    service->applicationsMonitorService().onApplicationTerminated(entity(identifier));
}

void CentralServiceTest::typePassword(const QString& text) {
    service->passwordWindowController()->passwordEntered(text);
}

std::optional<QString> CentralServiceTest::cbaal() const {
    const QJsonValue value = defaults->values.value(KeyConstants::CURRENT_BLOCKED_APP_KEY);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::size_t CentralServiceTest::shownCovers() const {
    std::size_t count = 0;
    for (const auto& cover : service->extraPasswordWindows())
        count += cover->isVisible() ? 1 : 0;
    return count;
}

std::size_t CentralServiceTest::corvaneLaunches() const {
    std::size_t count = 0;
    for (const auto& launch : workspace->launches)
        count += launch.bundlePath == corvaneBundle ? 1 : 0;
    return count;
}

bool CentralServiceTest::runNextScheduled() {
    if (scheduled.empty())
        return false;
    Scheduled next = std::move(scheduled.front());
    scheduled.erase(scheduled.begin());
    now += next.delay;
    next.block();
    return true;
}
