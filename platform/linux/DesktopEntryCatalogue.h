// The installed applications of the XDG application folders: desktop-file IDs resolved in XDG
// precedence, entries parsed with the key-file reader and cached, and the programs, session-bus
// services, systemd units and window names that identify their processes and windows.
#pragma once

#include <sys/types.h>

#include <QIcon>
#include <QString>
#include <QStringList>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/MainBundle.h"
#include "platform/linux/ElfBuildId.h"
#include "platform/linux/UniqueFd.h"

namespace platform {

// What one desktop entry says about its application.
struct DesktopEntry {
    QString identifier;    // the desktop-file ID without ".desktop"
    QString path;          // the entry's file
    QString name;          // the localized Name
    QString executable;    // file name of the Exec program
    QStringList programs;  // real paths of the TryExec and Exec programs that identify a process
    // Real paths of the Exec program: a name's on $PATH and on the system's default PATH; empty
    // when it identifies nothing.
    QStringList execPrograms;
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
    // The folders of `xdgApplicationFolders`, read now.
    DesktopEntryCatalogue();
    explicit DesktopEntryCatalogue(QStringList applicationFolders);
    DesktopEntryCatalogue(const DesktopEntryCatalogue&) = delete;
    DesktopEntryCatalogue& operator=(const DesktopEntryCatalogue&) = delete;

    // The folders of $XDG_DATA_HOME and $XDG_DATA_DIRS, the user's first, then always the system's
    // (/usr/local/share, /usr/share) and the flatpak and snap exports.
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
    // How far `identifiersOfProgramContent` compares bytes: every same-size program, or only those
    // small enough to read at once on the way to a lock.
    enum class ByteComparison { all, quick };
    struct ContentIdentifiers {
        QStringList identifiers;
        // A program too large for a quick comparison has the size: a full one may find more.
        bool largerComparisonLeft = false;
    };
    // The identifiers that claim a program with the same content as the file at `executable` (a
    // process's /proc/PID/exe): a renamed copy, a hard link or an altered copy of a program is that
    // program, whatever its file name and the names its windows declare. A program with a build-id
    // is known by it, so a copy that differs anywhere else (a byte appended, a section edited) is
    // still the program; one without a build-id by its bytes: sizes are compared first and a hard
    // link is known by its inode, so a file is read only when such a program has its size. A
    // program gives its own identifiers and those of every program with the same content: an entry
    // naming a copy of a locked program never takes the lock away.
    ContentIdentifiers identifiersOfProgramContent(const QString& executable,
                                                   ByteComparison comparison);
    QStringList identifiersOfProgramContent(const QString& executable) {
        return identifiersOfProgramContent(executable, ByteComparison::all).identifiers;
    }
    // The claims of every program whose build-id the file at `image` has (a copy of a claimed
    // program under another path); empty for a file without a build-id. Cheap: a few header reads,
    // remembered per file version.
    std::vector<ProgramClaim> claimsOfProgramBuildId(const QString& image);
    // Every program that identifies an application, for the launch watches.
    QStringList programs();
    // The programs the identifier claims, as an entry's or a bus service's program.
    QStringList programsClaimedBy(const QString& identifier);
    // Changes each time a folder change rebuilt the index.
    quint64 generation();
    QIcon iconNamed(const QString& iconName);

    // Readable when a folder changed; `refreshIfChanged` consumes the events.
    int changeDescriptor() const { return inotify.get(); }
    // Rebuilds the index if a folder changed since the last call; true if it did.
    bool refreshIfChanged();

  private:
    using FileSignature = elf::FileSignature;
    // What the content comparison knows of a claimed program's file.
    struct ProgramFile {
        FileSignature signature;
        std::optional<QByteArray> buildId;
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
    void refreshProgramFilesLocked();
    std::optional<QByteArray> buildIdOfLocked(const FileSignature& signature, int descriptor);
    QStringList claimantsLocked(const QString& program) const;
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
    // The claimed programs' files, made when first asked and checked again after a while, so
    // that a program upgraded in place is known by its new build-id.
    std::map<QString, ProgramFile> programFiles;
    std::multimap<off_t, QString> programsBySize;  // those without a build-id
    std::multimap<QByteArray, QString> programsByBuildId;
    std::optional<quint64> programFilesGeneration;
    std::chrono::steady_clock::time_point programFilesChecked;
    std::map<FileSignature, std::optional<QByteArray>> buildIdsBySignature;  // of other files
    std::map<QString, ParsedEntry> parsedByPath;
    std::map<int, Watch> watchesByDescriptor;
    std::map<QString, QIcon> iconsByName;
};

}  // namespace platform
