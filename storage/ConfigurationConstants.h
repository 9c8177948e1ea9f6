// The fixed lists of application identifiers that the catalogue and the locking logic apply, and
// the path prefix of the system's own programs.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/PairProtocol.h"
#include "platform/Workspace.h"
#include "storage/Constants.h"

class ConfigurationConstants {
  public:
    // Vaultine itself and Corvane are never locked.
    static QStringList BANNED_APPLICATIONS_BUNDLE_IDS() {
        return {Constants::BUNDLE_ID(), platform::PairProtocol::HELPER_BUNDLE_ID};
    }
    // The desktop's settings programs are always lockable.
    static inline const QStringList WHITE_LIST_APPLICATIONS_BUNDLE_IDS = {
        QStringLiteral("org.gnome.Settings"), QStringLiteral("systemsettings"),
        QStringLiteral("xfce-settings-manager")};
    // The tools with which a user could end the protection: system monitors, keyring managers and
    // terminals, in that order. Each group begins with the desktops' own tools; the rest are the
    // other terminals and monitors that Debian packages with a desktop entry, under the ids of
    // their packages' entries (ids are case-sensitive: "Alacritty" is the entry's own spelling).
    static inline const QStringList SYSTEM_MONITOR_BUNDLE_IDS = {
        QStringLiteral("gnome-system-monitor"),
        QStringLiteral("org.kde.plasma-systemmonitor"),
        QStringLiteral("xfce4-taskmanager"),
        QStringLiteral("mate-system-monitor"),
        QStringLiteral("lxtask"),
        QStringLiteral("qps")};
    static inline const QStringList KEYRING_MANAGER_BUNDLE_IDS = {
        QStringLiteral("org.gnome.seahorse.Application"),
        QStringLiteral("org.kde.kwalletmanager5")};
    static inline const QStringList TERMINAL_BUNDLE_IDS = {QStringLiteral("org.gnome.Terminal"),
                                                           QStringLiteral("org.gnome.Console"),
                                                           QStringLiteral("org.kde.konsole"),
                                                           QStringLiteral("xfce4-terminal"),
                                                           QStringLiteral("lxterminal"),
                                                           QStringLiteral("com.gexperts.Tilix"),
                                                           QStringLiteral("terminator"),
                                                           QStringLiteral("debian-xterm"),
                                                           QStringLiteral("debian-uxterm"),
                                                           QStringLiteral("mate-terminal"),
                                                           QStringLiteral("qterminal"),
                                                           QStringLiteral("kitty"),
                                                           QStringLiteral("Alacritty"),
                                                           QStringLiteral("guake"),
                                                           QStringLiteral("tilda"),
                                                           QStringLiteral("org.kde.yakuake"),
                                                           QStringLiteral("sakura"),
                                                           QStringLiteral("rxvt-unicode"),
                                                           QStringLiteral("terminology"),
                                                           QStringLiteral("cool-retro-term"),
                                                           QStringLiteral("deepin-terminal"),
                                                           QStringLiteral("st"),
                                                           QStringLiteral("zutty")};
    // Last, an application while a shell runs on a pseudo-terminal it holds: a terminal too.
    static inline const QStringList ADMINISTRATIVE_APPLICATIONS_BUNDLE_IDS =
        SYSTEM_MONITOR_BUNDLE_IDS + KEYRING_MANAGER_BUNDLE_IDS + TERMINAL_BUNDLE_IDS +
        QStringList{platform::RunningApplication::EMBEDDED_TERMINAL_IDENTIFIER};
    static inline const QString SYSTEM_APPLICATION_PATH_PREFIX = QStringLiteral("/usr/libexec/");
};
