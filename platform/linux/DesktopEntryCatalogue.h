// The installed applications of the XDG application folders: desktop-file IDs resolved in XDG
// precedence, entries parsed with the key-file reader and cached, and the programs that identify
// their processes.
#pragma once

#include <sys/types.h>

#include <QIcon>
#include <QString>
#include <QStringList>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/MainBundle.h"
#include "platform/linux/UniqueFd.h"

namespace platform {

// What one desktop entry says about its application.
struct DesktopEntry {
    QString identifier;    // the desktop-file ID without ".desktop"
    QString path;          // the entry's file
    QString name;          // the localized Name
    QString executable;    // file name of the Exec program
    QStringList programs;  // real paths of the TryExec and Exec programs that identify a process
    QString iconName;      // the Icon key
    bool noDisplay = false;
};

// Thread-safe: the selection window computes its list on a background thread while the process
// watcher asks from the main thread. Folder changes are seen through inotify; an entry's parse is
// kept until its file changes.
class DesktopEntryCatalogue {
  public:
    // The folders of $XDG_DATA_HOME and $XDG_DATA_DIRS, read now, the user's first.
    DesktopEntryCatalogue();
    explicit DesktopEntryCatalogue(QStringList applicationFolders);
    DesktopEntryCatalogue(const DesktopEntryCatalogue&) = delete;
    DesktopEntryCatalogue& operator=(const DesktopEntryCatalogue&) = delete;

    static QStringList xdgApplicationFolders();

    const QStringList& folders() const { return applicationFolders; }
    // The desktop-file ID that an entry at `path` has (relative to the folder that holds it).
    QString identifierForPath(const QString& path) const;

    // The entry that XDG precedence chooses for the identifier; empty when there is none, or the
    // chosen one is hidden, unreadable, not displayed or not an application.
    QString pathForIdentifier(const QString& identifier);
    // The dictionary of the entry at the path; none when the entry cannot be read, is hidden, not
    // displayed, not an application, or shadowed by an entry of the same identifier that comes
    // first in XDG order.
    std::optional<BundleInfo> infoForPath(const QString& path);
    QIcon iconForPath(const QString& path);

    // Lookups for the process matcher; NoDisplay entries are included here.
    std::optional<DesktopEntry> entryForIdentifier(const QString& identifier);
    std::optional<DesktopEntry> entryForPath(const QString& path);
    std::optional<DesktopEntry> entryForProgram(const QString& realExecutablePath);
    // Every program that identifies an application, for the launch watches.
    QStringList programs();
    // Changes each time a folder change rebuilt the index.
    quint64 generation();
    QIcon iconNamed(const QString& iconName);

    // Readable when a folder changed; `refreshIfChanged` consumes the events.
    int changeDescriptor() const { return inotify.get(); }
    // Rebuilds the index if a folder changed since the last call; true if it did.
    bool refreshIfChanged();

  private:
    struct FileSignature {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 modified = 0;
        bool operator==(const FileSignature&) const = default;
    };
    // A parsed entry; `usable` is false for hidden, unavailable or malformed ones, which still
    // shadow the entries of the same identifier in later folders.
    struct ParsedEntry {
        FileSignature signature;
        bool usable = false;
        DesktopEntry entry;
    };
    struct Watch {
        QString folder;
        QString awaitedChild;  // for the parent of a missing folder: the only name that matters
    };

    void ensureFreshLocked();
    void rebuildLocked();
    void indexFolderLocked(const QString& folder, const QString& prefix, int depth,
                           std::set<std::pair<dev_t, ino_t>>& visited, std::vector<QString>& order,
                           std::map<int, Watch>& watches);
    void watchLocked(const QString& folder, const QString& awaitedChild,
                     std::map<int, Watch>& watches);
    void watchNearestAncestorLocked(const QString& missingFolder, std::map<int, Watch>& watches);
    const ParsedEntry* parsedLocked(const QString& path);
    std::optional<DesktopEntry> usableEntryLocked(const QString& path, const QString& identifier);
    bool shadowedLocked(const QString& path, const QString& identifier) const;
    QIcon iconNamedLocked(const QString& iconName);

    QStringList applicationFolders;
    UniqueFd inotify;
    std::mutex mutex;
    bool indexed = false;
    quint64 indexGeneration = 0;
    std::map<QString, QString> pathsByIdentifier;
    std::map<QString, DesktopEntry> entriesByProgram;
    std::map<QString, ParsedEntry> parsedByPath;
    std::map<int, Watch> watchesByDescriptor;
    std::map<QString, QIcon> iconsByName;
};

}  // namespace platform
