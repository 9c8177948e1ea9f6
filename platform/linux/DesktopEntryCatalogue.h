// The installed applications of the XDG application folders: desktop-file IDs resolved in XDG
// precedence, entries parsed with the key-file reader and cached, and the programs, session-bus
// services, systemd units and window names that identify their processes and windows.
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
    QString execProgram;   // real path of the Exec program; empty when it identifies nothing
    QStringList execArguments;  // the Exec arguments that come with it, without field codes
    QString iconName;           // the Icon key
    QString startupWMClass;     // the WM_CLASS its windows declare; empty when not given
    bool noDisplay = false;
};

// An application that names a program: one identifier's claim on a process's executable.
struct ProgramClaim {
    DesktopEntry entry;     // what to show for the identifier
    QStringList arguments;  // the Exec arguments the entry runs the program with; empty otherwise
    // No entry of the identifier can be listed (each is hidden, or its program missing); the claim
    // still holds, so that hiding an entry never unlocks its application.
    bool hidden = false;
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
    // The session-bus service folders beside the application folders, in the same order.
    const QStringList& busServiceFolders() const { return serviceFolders; }
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

    // Lookups for the process matcher; NoDisplay entries are included here. The entry of an
    // identifier is the first one in XDG order that can be used, even when a hidden one shadows it.
    std::optional<DesktopEntry> entryForIdentifier(const QString& identifier);
    std::optional<DesktopEntry> entryForPath(const QString& path);
    // Every identifier that names the program: through the TryExec or Exec of any of its entries in
    // any folder (shadowed and hidden ones too), or the Exec of the session-bus service that has
    // its name; and, for the rest of the run, every identifier that named it since the catalogue
    // was first read (an entry edited or deleted never frees a program). In XDG precedence order
    // of the identifiers, the kept ones last.
    std::vector<ProgramClaim> claimsOfProgram(const QString& realExecutablePath);
    // The identifiers whose session-bus service the systemd user unit starts.
    QStringList identifiersOfUnit(const QString& unit);
    // The identifiers a window name (a WM_CLASS part, an application id, a desktop-file name)
    // stands for: an identifier, a StartupWMClass or a program's file name, compared without case.
    QStringList identifiersOfWindowName(const QString& name);
    // The identifiers that claim a program with the same content as the file at `executable` (a
    // process's /proc/PID/exe): a renamed copy or a hard link of a program is that program,
    // whatever its file name and the names its windows declare. Sizes are compared first and a hard
    // link is known by its inode, so a file is read only when a program has its size. A program
    // gives its own identifiers and those of every program with the same bytes: an entry naming a
    // copy of a locked program never takes the lock away.
    QStringList identifiersOfProgramContent(const QString& executable);
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
    // shadow the entries of the same identifier in later folders. `readable` is true for every
    // entry whose keys could be read, hidden ones included: their programs still count.
    struct ParsedEntry {
        FileSignature signature;
        bool readable = false;
        bool usable = false;
        DesktopEntry entry;
    };
    struct Watch {
        QString folder;
        // For the parent of missing folders: the only names that matter; empty for every event.
        QStringList awaitedChildren;
    };

    void ensureFreshLocked();
    void rebuildLocked();
    void indexClaimsLocked(const std::vector<QString>& order);
    void indexBusServicesLocked(std::map<int, Watch>& watches);
    void keepPreviousClaimsLocked(
        const std::map<QString, std::vector<ProgramClaim>>& previousClaims);
    void addClaimLocked(const QString& program, ProgramClaim claim);
    void addWindowNameLocked(const QString& name, const QString& identifier);
    std::optional<DesktopEntry> displayEntryLocked(const QString& identifier);
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
    QStringList serviceFolders;
    UniqueFd inotify;
    std::mutex mutex;
    bool indexed = false;
    quint64 indexGeneration = 0;
    std::map<QString, QString> pathsByIdentifier;
    std::map<QString, std::vector<QString>> allPathsByIdentifier;  // every folder's, in XDG order
    std::map<QString, std::vector<ProgramClaim>> claimsByProgram;
    std::map<QString, QStringList> identifiersByUnit;
    std::map<QString, QStringList> identifiersByWindowName;  // keys lower-cased
    std::multimap<off_t, QString> programsBySize;  // made when first asked, per generation
    std::optional<quint64> programsBySizeGeneration;
    std::map<QString, ParsedEntry> parsedByPath;
    std::map<int, Watch> watchesByDescriptor;
    std::map<QString, QIcon> iconsByName;
};

}  // namespace platform
