// The interface style from the desktop: the settings portal's org.freedesktop.appearance
// color-scheme (1 = prefer dark), else GNOME's color-scheme 'prefer-dark' or a GTK theme whose name
// ends in "-dark".
#include <gio/gio.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <optional>

#include "platform/Appearance.h"
#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

// A portal that is absent answers with an error at once; one that hangs must not stall the
// status item, so the wait is short.
constexpr int portalTimeoutMs = 500;

// Unwraps the nested variants the portal's Read returns ("v" holding "v" holding the value).
QVariant unwrapped(QVariant value) {
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// The portal's color-scheme: 0 no preference, 1 dark, 2 light; none when there is no portal.
std::optional<uint> portalColorScheme() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    const QDBusMessage reply = bus.call(call, QDBus::Block, portalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = unwrapped(reply.arguments().constFirst());
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    return ok ? std::optional<uint>(scheme) : std::nullopt;
}

// GNOME's interface settings, only when the schema is installed (asking GSettings for an
// unknown schema ends the process).
bool gnomePrefersDark() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return false;
    const bool hasColorScheme = g_settings_schema_has_key(schema, "color-scheme");
    const bool hasTheme = g_settings_schema_has_key(schema, "gtk-theme");
    g_settings_schema_unref(schema);
    GObjectPtr<GSettings> settings(g_settings_new("org.gnome.desktop.interface"));
    if (hasColorScheme) {
        GCharPtr scheme(g_settings_get_string(settings.get(), "color-scheme"));
        if (scheme && QString::fromUtf8(scheme.get()) == QStringLiteral("prefer-dark"))
            return true;
    }
    if (hasTheme) {
        GCharPtr theme(g_settings_get_string(settings.get(), "gtk-theme"));
        if (theme &&
            QString::fromUtf8(theme.get()).endsWith(QStringLiteral("-dark"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

class DesktopAppearance : public Appearance {
  public:
    QVariant interfaceStyle() override {
        const auto scheme = portalColorScheme();
        if (scheme == 1u)
            return QStringLiteral("Dark");
        if (gnomePrefersDark())
            return QStringLiteral("Dark");
        return {};
    }
};

}  // namespace

std::unique_ptr<Appearance> Appearance::createDefault() {
    return std::make_unique<DesktopAppearance>();
}

}  // namespace platform
