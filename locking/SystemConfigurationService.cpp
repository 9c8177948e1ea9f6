// The appearance test and the login-item switch over the platform's appearance and login items.
#include "locking/SystemConfigurationService.h"

#include <QMetaType>
#include <QVariant>

#include "platform/Appearance.h"
#include "platform/LoginItems.h"
#include "platform/PairProtocol.h"

bool SystemConfigurationService::darkModeOn() const {
    const QVariant style = platform::Appearance::shared().interfaceStyle();
    if (style.typeId() != QMetaType::QString)
        return false;
    return style.toString().toLower() == QStringLiteral("dark");
}

bool SystemConfigurationService::startAtLogin(bool enabled) const {
    // Corvane starts first at login and launches Vaultine when it does not find it running.
    return platform::LoginItems::shared().setLoginItemEnabled(
        platform::PairProtocol::HELPER_BUNDLE_ID, enabled);
}

bool SystemConfigurationService::loginItemRegistered() const {
    return platform::LoginItems::shared().loginItemEnabled(
        platform::PairProtocol::HELPER_BUNDLE_ID);
}

void SystemConfigurationService::observeLoginItem(std::function<void()> handler) const {
    platform::LoginItems::shared().addChangeObserver(std::move(handler));
}
