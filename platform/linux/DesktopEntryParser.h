// Reads the keys Vaultine needs from the text of one desktop entry or session-bus service file,
// without looking at the disk: the pure half of the catalogue's parse, tested and fuzzed alone.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// The keys of an application entry that the catalogue uses, as written in the entry.
struct DesktopEntryFields {
    QString name;         // Name, localized for the user's languages
    QString tryExec;      // TryExec, empty when absent
    QString execProgram;  // the first word of Exec after shell-style unquoting; empty without Exec
    // The other words of Exec, without the field codes (%f, %U ...) that a launcher replaces.
    QStringList execArguments;
    QString iconName;        // Icon, empty when absent
    QString startupWMClass;  // StartupWMClass, the WM_CLASS its windows carry; empty when absent
    bool noDisplay = false;
    // Hidden=true: the user deleted the entry. It lists nothing, yet still tells which program the
    // entry's application runs.
    bool hidden = false;
};

// None for anything that gives no application: text that is not UTF-8 or not a key file, no
// "Desktop Entry" group, a Type other than Application, no Name, or an Exec line that cannot be
// split into words.
std::optional<DesktopEntryFields> parseDesktopEntry(const QByteArray& contents);

// What a session-bus service file (dbus-1/services/*.service) says: the bus name it provides, the
// program the bus starts for it and the systemd user unit that may start it instead.
struct BusServiceFields {
    QString name;            // Name
    QString execProgram;     // the first word of Exec after shell-style unquoting
    QString systemdService;  // SystemdService, empty when absent
};

// None when the text is not a UTF-8 key file with a "D-BUS Service" group holding a Name and an
// Exec that can be split into words.
std::optional<BusServiceFields> parseBusServiceFile(const QByteArray& contents);

}  // namespace platform
