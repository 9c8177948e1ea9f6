// The fixed lists of application identifiers that the catalogue and the locking logic apply, and
// the path prefix of the system's own programs.
#pragma once

#include <QString>
#include <QStringList>

#include "storage/Constants.h"

class ConfigurationConstants {
  public:
    // Vaultine itself and Corvane are never locked.
    static QStringList BANNED_APPLICATIONS_BUNDLE_IDS() {
        return {Constants::BUNDLE_ID(), Constants::HELPER_BUNDLE_ID};
    }
    // The desktop's settings programs are always lockable.
    static inline const QStringList WHITE_LIST_APPLICATIONS_BUNDLE_IDS = {
        QStringLiteral("org.gnome.Settings"), QStringLiteral("systemsettings"),
        QStringLiteral("xfce-settings-manager")};
    // The tools with which a user could end the protection: system monitors, keyring managers and
    // terminals, in that order.
    static inline const QStringList SYSTEM_MONITOR_BUNDLE_IDS = {
        QStringLiteral("gnome-system-monitor"), QStringLiteral("org.kde.plasma-systemmonitor"),
        QStringLiteral("xfce4-taskmanager")};
    static inline const QStringList KEYRING_MANAGER_BUNDLE_IDS = {
        QStringLiteral("org.gnome.seahorse.Application"),
        QStringLiteral("org.kde.kwalletmanager5")};
    static inline const QStringList TERMINAL_BUNDLE_IDS = {
        QStringLiteral("org.gnome.Terminal"), QStringLiteral("org.gnome.Console"),
        QStringLiteral("org.kde.konsole"),    QStringLiteral("xfce4-terminal"),
        QStringLiteral("lxterminal"),         QStringLiteral("com.gexperts.Tilix"),
        QStringLiteral("terminator"),         QStringLiteral("debian-xterm"),
        QStringLiteral("debian-uxterm")};
    static inline const QStringList ADMINISTRATIVE_APPLICATIONS_BUNDLE_IDS =
        SYSTEM_MONITOR_BUNDLE_IDS + KEYRING_MANAGER_BUNDLE_IDS + TERMINAL_BUNDLE_IDS;
    static inline const QString SYSTEM_APPLICATION_PATH_PREFIX = QStringLiteral("/usr/libexec/");
};
