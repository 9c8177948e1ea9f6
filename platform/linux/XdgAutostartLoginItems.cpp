// Writes and removes the autostart entries that start a login-item bundle at login, and reports
// whether the change took effect by looking at what is on disk afterwards.
#include "platform/linux/XdgAutostartLoginItems.h"

#include <gio/gio.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>

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

// The keys of an entry that is plain enough for every desktop to read it alike: comments, blank
// lines, the [Desktop Entry] header first and alone, and each key once. None otherwise: another
// group, a second header, a repeated key (parsers differ on which one wins), a carriage return
// or a NUL byte (some readers end the line or the file there).
std::optional<QStringList> desktopEntryKeys(const QByteArray& text) {
    if (text.contains('\0') || text.contains('\r'))
        return std::nullopt;
    QStringList keys;
    bool inGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (inGroup || line != "[Desktop Entry]")
                return std::nullopt;
            inGroup = true;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inGroup || equals <= 0)
            return std::nullopt;
        const QString key = QString::fromUtf8(line.left(equals).trimmed());
        if (keys.contains(key))
            return std::nullopt;
        keys << key;
    }
    if (!inGroup)
        return std::nullopt;
    return keys;
}

// Whether one key of the entry lets it start `executable` at login on every desktop. Only the
// keys Vaultine writes and a few that no desktop reads at login pass, with exactly the values
// that start it; every other key may stop or put off the start somewhere: Hidden,
// OnlyShowIn/NotShowIn, TryExec (the XDG autostart rules), X-systemd-skip, AutostartCondition,
// X-GNOME-Autostart-Phase and X-KDE-autostart-condition (systemd's autostart generator),
// X-GNOME-Autostart-enabled, X-GNOME-Autostart-Delay (GNOME), X-MATE-Autostart-enabled (MATE),
// X-XFCE-Autostart-Override (Xfce), DBusActivatable, Path, Terminal (the launch itself).
bool keyLetsItStart(const QString& key, const QString& value, const QString& executable) {
    static const QStringList anyValue = {QStringLiteral("Name"),    QStringLiteral("GenericName"),
                                         QStringLiteral("Comment"), QStringLiteral("Icon"),
                                         QStringLiteral("Version"), QStringLiteral("NoDisplay")};
    // Translations of the texts: Name[de], Comment[fr_FR].
    const QString base = key.section(u'[', 0, 0);
    if (anyValue.contains(base) && (base == key || key.endsWith(u']')))
        return true;
    if (key == QStringLiteral("Type"))
        return value == QStringLiteral("Application");
    if (key == QStringLiteral("Exec"))
        return value == quotedExecArgument(executable);
    if (key == QStringLiteral("Hidden") || key == QStringLiteral("Terminal"))
        return value == QStringLiteral("false");
    if (key == QStringLiteral("X-GNOME-Autostart-enabled"))
        return value == QStringLiteral("true");
    return false;
}

// An autostart entry is a few lines; anything much larger is not one of ours.
constexpr qint64 maxEntrySize = 64 * 1024;

// Renames what stands in the way to a name no desktop reads (it is the user's, so it is kept).
void moveAside(const QString& path) {
    const QString aside =
        path + QStringLiteral(".displaced-") + QString::number(QDateTime::currentMSecsSinceEpoch());
    if (!QFile::rename(path, aside))
        qWarning().noquote() << "Start at login: cannot move" << path << "aside";
}

// Makes the entry's path writable as a plain file: an autostart "folder" that is a file is moved
// aside, the folder is made writable and searchable by its owner again, and a link or a folder
// at the entry's path is removed or moved aside.
void clearEntryPath(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const QFileInfo folderInfo(folder);
    if ((folderInfo.exists() || folderInfo.isSymLink()) && !folderInfo.isDir())
        moveAside(folder);
    if (QFileInfo(folder).isDir()) {
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QFile::setPermissions(folder, QFile::permissions(folder) | owner);
    }
    const QFileInfo entry(path);
    if (entry.isSymLink())
        QFile::remove(path);
    else if (entry.exists() && !entry.isFile())
        moveAside(path);
}

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
    const QString path = autostartEntryPath(bundleIdentifier);
    clearEntryPath(path);
    return writeAtomically(path, autostartEntry(name, executable));
}

bool XdgAutostartLoginItems::loginItemEnabled(const QString& bundleIdentifier) {
    if (bundleIdentifier.isEmpty() || bundleIdentifier.contains(u'/'))
        return false;
    const QString executable = loginItemExecutable(bundleIdentifier);
    if (executable.isEmpty())
        return false;
    // Only a plain file is trusted: a link may point anywhere, and a folder of the entry's name
    // starts nothing. Neither is left in place (clearEntryPath).
    const QString path = autostartEntryPath(bundleIdentifier);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() > maxEntrySize)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return entryStarts(file.read(maxEntrySize + 1), executable);
}

bool XdgAutostartLoginItems::entryStarts(const QByteArray& text, const QString& executable) {
    const std::optional<QStringList> keys = desktopEntryKeys(text);
    if (!keys)
        return false;
    GKeyFilePointer keyFile(g_key_file_new());
    if (!g_key_file_load_from_data(keyFile.get(), text.constData(), static_cast<gsize>(text.size()),
                                   G_KEY_FILE_KEEP_TRANSLATIONS, nullptr))
        return false;
    for (const QString& key : *keys) {
        GCharPtr value(g_key_file_get_string(keyFile.get(), G_KEY_FILE_DESKTOP_GROUP,
                                             qUtf8Printable(key), nullptr));
        if (!value || !keyLetsItStart(key, QString::fromUtf8(value.get()), executable))
            return false;
    }
    return keys->contains(QStringLiteral("Type")) && keys->contains(QStringLiteral("Exec"));
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
