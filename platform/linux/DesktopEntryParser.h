// Reads the keys Vaultine needs from the text of one desktop entry, without looking at the disk:
// the pure half of the catalogue's parse, kept apart so that it can be tested and fuzzed alone.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

// The keys of an application entry that the catalogue uses, as written in the entry.
struct DesktopEntryFields {
    QString name;         // Name, localized for the user's languages
    QString tryExec;      // TryExec, empty when absent
    QString execProgram;  // the first word of Exec after shell-style unquoting; empty without Exec
    QString iconName;     // Icon, empty when absent
    bool noDisplay = false;
};

// None for anything that gives no application: text that is not UTF-8 or not a key file, no
// "Desktop Entry" group, Hidden=true, a Type other than Application, no Name, or an Exec line that
// cannot be split into words.
std::optional<DesktopEntryFields> parseDesktopEntry(const QByteArray& contents);

}  // namespace platform
