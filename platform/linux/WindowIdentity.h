// What a top-level window says about the application behind it: its client's process and the
// names it declares (WM_CLASS, the GTK application id, the KDE desktop-file name), with the pure
// parsers of those properties' bytes, kept apart so that they can be tested and fuzzed alone.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

struct WindowIdentity {
    std::uint32_t window = 0;
    pid_t process = 0;        // _NET_WM_PID, else the X server's record of the client; 0 if unknown
    QString instanceName;     // WM_CLASS, first part
    QString className;        // WM_CLASS, second part
    QString applicationId;    // _GTK_APPLICATION_ID
    QString desktopFileName;  // _KDE_NET_WM_DESKTOP_FILE, without ".desktop"

    // The declared names, the most specific first, each once.
    QStringList names() const;
};

// The two NUL-terminated Latin-1 strings of a WM_CLASS value (the last NUL may be missing); both
// empty when there is no first NUL.
void parseWmClass(const QByteArray& value, QString& instanceName, QString& className);
// A text property's value up to its first NUL, as UTF-8; empty when it is not valid UTF-8.
QString parseTextProperty(const QByteArray& value);

}  // namespace platform
