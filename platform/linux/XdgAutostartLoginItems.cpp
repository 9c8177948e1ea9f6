// Writes and removes the autostart entries that start a login-item bundle at login, and reports
// whether the change took effect by looking at what is on disk afterwards.
#include "platform/linux/XdgAutostartLoginItems.h"

#include <gio/gio.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/MainBundle.h"
#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

// Quotes an Exec argument as desktop entries require: inside double quotes, the characters
// '"', '`', '$' and '\' are escaped with a backslash.
QString quotedExecArgument(const QString& argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

// Whether a system-wide autostart entry of that name exists, which only a user entry with
// Hidden=true can switch off.
bool systemEntryExists(const QString& fileName) {
    const QStringList folders =
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    const QString userFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString& folder : folders) {
        if (folder != userFolder &&
            QFileInfo::exists(folder + QStringLiteral("/autostart/") + fileName))
            return true;
    }
    return false;
}

// An autostart entry is a few lines; anything much larger is not one of ours.
constexpr qint64 maxEntrySize = 64 * 1024;

bool writeAtomically(const QString& path, const QByteArray& contents) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(contents);
    return file.commit();
}

}  // namespace

std::unique_ptr<LoginItems> LoginItems::createDefault() {
    return std::make_unique<XdgAutostartLoginItems>();
}

QString XdgAutostartLoginItems::autostartEntryPath(const QString& bundleIdentifier) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + bundleIdentifier + QStringLiteral(".desktop");
}

QString XdgAutostartLoginItems::loginItemBundlePath(const QString& bundleIdentifier) {
    const QString folder =
        MainBundle::shared().bundlePath() + QStringLiteral("/Contents/Library/LoginItems");
    const QStringList bundles =
        QDir(folder).entryList({QStringLiteral("*.app")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& bundle : bundles) {
        const QString path = folder + u'/' + bundle;
        const auto info = readBundleInfo(path);
        if (info && info->identifier == bundleIdentifier)
            return path;
    }
    return {};
}

QByteArray XdgAutostartLoginItems::autostartEntry(const QString& name,
                                                  const QString& executablePath) {
    GKeyFilePointer keyFile(g_key_file_new());
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(keyFile.get(), group, G_KEY_FILE_DESKTOP_KEY_TYPE,
                          G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    g_key_file_set_string(keyFile.get(), group, G_KEY_FILE_DESKTOP_KEY_NAME, qUtf8Printable(name));
    // GKeyFile adds the key-file escaping (a backslash becomes "\\") on top of Exec's quoting.
    g_key_file_set_string(keyFile.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC,
                          qUtf8Printable(quotedExecArgument(executablePath)));
    g_key_file_set_boolean(keyFile.get(), group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
    g_key_file_set_boolean(keyFile.get(), group, "X-GNOME-Autostart-enabled", TRUE);
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(keyFile.get(), &length, nullptr));
    return QByteArray(data.get(), static_cast<qsizetype>(length));
}

bool XdgAutostartLoginItems::setLoginItemEnabled(const QString& bundleIdentifier, bool enabled) {
    if (bundleIdentifier.isEmpty() || bundleIdentifier.contains(u'/'))
        return false;
    return enabled ? enable(bundleIdentifier) : disable(bundleIdentifier);
}

QString XdgAutostartLoginItems::loginItemExecutable(const QString& bundleIdentifier) {
    const QString bundlePath = loginItemBundlePath(bundleIdentifier);
    if (bundlePath.isEmpty())
        return {};
    const auto info = readBundleInfo(bundlePath);
    if (!info || info->executable.isEmpty())
        return {};
    const QString executable = bundlePath + QStringLiteral("/Contents/bin/") + info->executable;
    return QFileInfo(executable).isExecutable() ? executable : QString();
}

bool XdgAutostartLoginItems::enable(const QString& bundleIdentifier) {
    const QString executable = loginItemExecutable(bundleIdentifier);
    if (executable.isEmpty())
        return false;
    const auto info = readBundleInfo(loginItemBundlePath(bundleIdentifier));
    const QString name = info->name.isEmpty() ? info->executable : info->name;
    return writeAtomically(autostartEntryPath(bundleIdentifier), autostartEntry(name, executable));
}

bool XdgAutostartLoginItems::loginItemEnabled(const QString& bundleIdentifier) {
    if (bundleIdentifier.isEmpty() || bundleIdentifier.contains(u'/'))
        return false;
    const QString executable = loginItemExecutable(bundleIdentifier);
    if (executable.isEmpty())
        return false;
    QFile file(autostartEntryPath(bundleIdentifier));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return entryStarts(file.read(maxEntrySize), executable);
}

bool XdgAutostartLoginItems::entryStarts(const QByteArray& text, const QString& executable) {
    GKeyFilePointer keyFile(g_key_file_new());
    if (!g_key_file_load_from_data(keyFile.get(), text.constData(), static_cast<gsize>(text.size()),
                                   G_KEY_FILE_NONE, nullptr))
        return false;
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    auto flag = [&](const char* key, bool absent) {
        GErrorSlot error;
        const gboolean value = g_key_file_get_boolean(keyFile.get(), group, key, error.out());
        return error ? absent : value != FALSE;
    };
    if (flag(G_KEY_FILE_DESKTOP_KEY_HIDDEN, false) || !flag("X-GNOME-Autostart-enabled", true))
        return false;
    GCharPtr exec(
        g_key_file_get_string(keyFile.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr));
    gint argc = 0;
    gchar** argv = nullptr;
    if (!exec || !g_shell_parse_argv(exec.get(), &argc, &argv, nullptr))
        return false;
    const bool startsIt = argc > 0 && QString::fromUtf8(argv[0]) == executable;
    g_strfreev(argv);
    return startsIt;
}

XdgAutostartLoginItems::XdgAutostartLoginItems() = default;

XdgAutostartLoginItems::~XdgAutostartLoginItems() = default;

void XdgAutostartLoginItems::addChangeObserver(std::function<void()> handler) {
    observers.add(std::move(handler));
    if (watcher)
        return;
    watcher = std::make_unique<QFileSystemWatcher>();
    QObject::connect(watcher.get(), &QFileSystemWatcher::directoryChanged, watcher.get(),
                     [this] { folderChanged(); });
    QObject::connect(watcher.get(), &QFileSystemWatcher::fileChanged, watcher.get(),
                     [this] { folderChanged(); });
    watchFolder();
}

void XdgAutostartLoginItems::watchFolder() {
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString folder = configHome + QStringLiteral("/autostart");
    QStringList paths;
    if (QFileInfo(folder).isDir()) {
        paths << folder;
        // Edits in place change no folder entry: the entries are watched one by one as well.
        for (const QString& entry :
             QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files))
            paths << folder + u'/' + entry;
    } else {
        paths << configHome;  // until the autostart folder appears
    }
    const QStringList watched = watcher->directories() + watcher->files();
    if (!watched.isEmpty())
        watcher->removePaths(watched);
    watcher->addPaths(paths);
}

void XdgAutostartLoginItems::folderChanged() {
    // A replaced entry is a new file, and a new folder is not watched yet: watch afresh.
    watchFolder();
    observers.notify();
}

bool XdgAutostartLoginItems::disable(const QString& bundleIdentifier) {
    const QString path = autostartEntryPath(bundleIdentifier);
    const QString fileName = bundleIdentifier + QStringLiteral(".desktop");
    if (systemEntryExists(fileName)) {
        // A system-wide entry of the same name keeps starting unless the user's entry hides it.
        return writeAtomically(path, "[Desktop Entry]\nType=Application\nHidden=true\n");
    }
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return false;
    return !QFileInfo::exists(path);
}

}  // namespace platform
