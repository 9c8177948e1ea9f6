// Reads the XDG application folders: the precedence index of desktop-file IDs, the parse of each
// entry with its size, encoding, type and installed-program checks, and the inotify watches that
// invalidate both.
#include "platform/linux/DesktopEntryCatalogue.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "platform/linux/DesktopEntryParser.h"
#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

// Real entries are a few kilobytes even with every translation; a larger file is not an entry.
constexpr qint64 maximumEntrySize = 1 << 20;
// Menus nest a level or two; the bound keeps a link farm from running away.
constexpr int maximumFolderDepth = 16;
const QString entrySuffix = QStringLiteral(".desktop");
// Programs up to this size are compared at once on the way to a lock; larger ones only when the
// caller asks for every comparison (off the main thread).
constexpr off_t quickComparisonLimit = off_t{16} << 20;
// How long what was read of the claimed programs' files is trusted before they are looked at
// again: a program upgraded in place gets a new build-id.
constexpr std::chrono::seconds programFilesRecheck{2};
constexpr std::size_t maximumRememberedBuildIds = 4096;

constexpr uint32_t folderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                  IN_ONLYDIR;
constexpr uint32_t ancestorEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

// True when the open file `candidate` is the program at `programPath`, a hard link of it, or a
// byte-for-byte copy; `readBytes` false: only the first.
bool sameProgramContent(int candidate, const struct stat& candidateStatus,
                        const QString& programPath, bool readBytes) {
    const UniqueFd program(
        ::open(QFile::encodeName(programPath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat programStatus {};
    if (!program || ::fstat(program.get(), &programStatus) != 0)
        return false;
    if (programStatus.st_dev == candidateStatus.st_dev &&
        programStatus.st_ino == candidateStatus.st_ino)
        return true;
    return readBytes && programStatus.st_size == candidateStatus.st_size &&
           elf::sameFileBytes(candidate, program.get(), candidateStatus.st_size);
}

// Programs that run other programs: a process running one of them is not the entry's
// application, so they never identify a process.
bool isInterpreter(const QString& program) {
    static const std::set<QString> interpreters = {
        QStringLiteral("sh"),       QStringLiteral("bash"),     QStringLiteral("dash"),
        QStringLiteral("zsh"),      QStringLiteral("ksh"),      QStringLiteral("fish"),
        QStringLiteral("env"),      QStringLiteral("perl"),     QStringLiteral("ruby"),
        QStringLiteral("node"),     QStringLiteral("gjs"),      QStringLiteral("java"),
        QStringLiteral("flatpak"),  QStringLiteral("snap"),     QStringLiteral("sudo"),
        QStringLiteral("pkexec"),   QStringLiteral("xdg-open"), QStringLiteral("gio"),
        QStringLiteral("exo-open"), QStringLiteral("busybox"),  QStringLiteral("wine")};
    const QString name = QFileInfo(program).fileName();
    return interpreters.count(name) || name.startsWith(QLatin1String("python"));
}

// The folders a program name is looked up in when our own PATH is unset, and the system's own
// that every name is also looked up in: a PATH that the user edited in a login file must not lead
// a name away from the system's program.
const QString systemProgramFolders =
    QStringLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");

QString findInFolders(const QString& name, const QString& folders) {
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // A relative folder would depend on our working folder.
        if (!QDir::isAbsolutePath(folder))
            continue;
        const QFileInfo candidate(folder + QLatin1Char('/') + name);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return {};
}

// The installed programs named by an entry: the path as written when it is absolute; for a bare
// name, what it is found as in $PATH and in the system's default folders (one or two programs).
// Empty when it is not installed.
QStringList findPrograms(const QString& program) {
    if (program.isEmpty())
        return {};
    const QByteArray encoded = QFile::encodeName(program);
    if (g_path_is_absolute(encoded.constData()) || program.contains(QLatin1Char('/'))) {
        GCharPtr found(g_path_is_absolute(encoded.constData())
                           ? (g_file_test(encoded.constData(), G_FILE_TEST_IS_EXECUTABLE)
                                  ? g_strdup(encoded.constData())
                                  : nullptr)
                           : g_find_program_in_path(encoded.constData()));
        return found ? QStringList{QFile::decodeName(found.get())} : QStringList();
    }
    QString path = qEnvironmentVariable("PATH");
    if (path.isEmpty())
        path = systemProgramFolders;
    QStringList found;
    for (const QString& folders : {path, systemProgramFolders}) {
        const QString inFolders = findInFolders(program, folders);
        if (!inFolders.isEmpty() && !found.contains(inFolders))
            found.append(inFolders);
    }
    return found;
}

bool isInstalled(const QString& program) {
    return !findPrograms(program).isEmpty();
}

// The real paths of the installed programs an entry names, without interpreters, which run other
// programs.
QStringList identifyingPrograms(const QString& program) {
    QStringList programs;
    for (const QString& found : findPrograms(program)) {
        const QString real = QFileInfo(found).canonicalFilePath();
        if (!real.isEmpty() && !isInterpreter(program) && !isInterpreter(real) &&
            !programs.contains(real))
            programs.append(real);
    }
    return programs;
}

// `env [-i] [-u NAME] [NAME=value ...] program arguments` runs the program, which is then what
// the entry starts. Any other option of env leaves the command as it is (env, an interpreter).
void unwrapEnv(QString& program, QStringList& arguments) {
    if (QFileInfo(program).fileName() != QLatin1String("env"))
        return;
    QStringList rest = arguments;
    while (!rest.isEmpty()) {
        const QString& word = rest.front();
        if (word == QLatin1String("-u") || word == QLatin1String("--unset")) {
            if (rest.size() < 2)
                return;
            rest.removeFirst();
        } else if (word != QLatin1String("-i") && word != QLatin1String("-") &&
                   word != QLatin1String("--ignore-environment") &&
                   !(word.contains(QLatin1Char('=')) && !word.startsWith(QLatin1Char('-')))) {
            break;
        }
        rest.removeFirst();
    }
    if (rest.isEmpty() || rest.front().startsWith(QLatin1Char('-')))
        return;
    program = rest.takeFirst();
    arguments = rest;
}

bool readLimited(const QString& path, QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumEntrySize)
        return false;
    contents = file.read(maximumEntrySize + 1);
    return contents.size() <= maximumEntrySize;
}

// Parses one entry. `readable` holds for every entry whose keys could be read; `usable` only for
// one that gives an application: not hidden, and its TryExec and Exec programs installed.
void parseEntry(const QString& path, DesktopEntry& entry, bool& readable, bool& usable) {
    readable = usable = false;
    QByteArray contents;
    if (!readLimited(path, contents))
        return;
    const std::optional<DesktopEntryFields> fields = parseDesktopEntry(contents);
    if (!fields)
        return;
    readable = true;
    entry.path = path;
    entry.name = fields->name;
    QString execProgram = fields->execProgram;
    QStringList execArguments = fields->execArguments;
    unwrapEnv(execProgram, execArguments);
    entry.executable = QFileInfo(execProgram).fileName();
    entry.execPrograms = identifyingPrograms(execProgram);
    entry.execArguments = execArguments;
    for (const QString& real : identifyingPrograms(fields->tryExec) + entry.execPrograms) {
        if (!entry.programs.contains(real))
            entry.programs.append(real);
    }
    entry.iconName = fields->iconName;
    entry.startupWMClass = fields->startupWMClass;
    entry.noDisplay = fields->noDisplay;
    usable = !fields->hidden && (fields->tryExec.isEmpty() || isInstalled(fields->tryExec)) &&
             (fields->execProgram.isEmpty() || isInstalled(fields->execProgram));
}

// The session-bus service folder beside an application folder ("<base>/applications").
QString busServiceFolderOf(const QString& applicationFolder) {
    const QString suffix = QStringLiteral("/applications");
    if (!applicationFolder.endsWith(suffix))
        return {};
    return applicationFolder.chopped(suffix.size()) + QStringLiteral("/dbus-1/services");
}

bool validUtf8Name(const char* name) {
    return g_utf8_validate(name, -1, nullptr);
}

}  // namespace

DesktopEntryCatalogue::DesktopEntryCatalogue() : DesktopEntryCatalogue(xdgApplicationFolders()) {}

DesktopEntryCatalogue::DesktopEntryCatalogue(QStringList folders)
    : applicationFolders(std::move(folders)), inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    for (const QString& folder : applicationFolders) {
        const QString services = busServiceFolderOf(folder);
        if (!services.isEmpty() && !serviceFolders.contains(services))
            serviceFolders.append(services);
    }
}

QStringList DesktopEntryCatalogue::xdgApplicationFolders() {
    QStringList bases;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    bases.append(dataHome);
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share/:/usr/share/");
    for (const QString& base : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid in the XDG lists and would depend on our working folder.
        if (QDir::isAbsolutePath(base))
            bases.append(base);
    }
    // The system's folders and the sandboxes' exports are read whatever the list says: a user can
    // set XDG_DATA_DIRS in a login file, and a list without them would hide their entries.
    bases += {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share"),
              QStringLiteral("/var/lib/flatpak/exports/share"),
              QDir::homePath() + QStringLiteral("/.local/share/flatpak/exports/share"),
              QStringLiteral("/var/lib/snapd/desktop")};
    QStringList folders;
    for (const QString& base : bases) {
        const QString folder = QDir::cleanPath(base + QStringLiteral("/applications"));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

QString DesktopEntryCatalogue::identifierForPath(const QString& path) const {
    const QString clean = QDir::cleanPath(path);
    QString relative = QFileInfo(clean).fileName();
    for (const QString& folder : applicationFolders) {
        if (clean.startsWith(folder + QLatin1Char('/'))) {
            relative = clean.mid(folder.size() + 1);
            break;
        }
    }
    if (relative.endsWith(entrySuffix))
        relative.chop(entrySuffix.size());
    return relative.replace(QLatin1Char('/'), QLatin1Char('-'));
}

QString DesktopEntryCatalogue::pathForIdentifier(const QString& identifier) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const auto found = pathsByIdentifier.find(identifier);
    if (found == pathsByIdentifier.end())
        return {};
    const std::optional<DesktopEntry> entry = usableEntryLocked(found->second, identifier);
    return entry && !entry->noDisplay ? found->second : QString();
}

std::optional<BundleInfo> DesktopEntryCatalogue::infoForPath(const QString& path) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const QString identifier = identifierForPath(path);
    if (shadowedLocked(path, identifier))
        return std::nullopt;
    const std::optional<DesktopEntry> entry = usableEntryLocked(path, identifier);
    if (!entry || entry->noDisplay)
        return std::nullopt;
    BundleInfo info;
    info.identifier = entry->identifier;
    info.name = entry->name;
    info.executable = entry->executable;
    return info;
}

QIcon DesktopEntryCatalogue::iconForPath(const QString& path) {
    std::lock_guard lock(mutex);
    const ParsedEntry* parsed = parsedLocked(path);
    return parsed && parsed->usable ? iconNamedLocked(parsed->entry.iconName) : QIcon();
}

QIcon DesktopEntryCatalogue::iconNamed(const QString& iconName) {
    std::lock_guard lock(mutex);
    return iconNamedLocked(iconName);
}

QIcon DesktopEntryCatalogue::iconNamedLocked(const QString& iconName) {
    if (iconName.isEmpty())
        return {};
    const auto cached = iconsByName.find(iconName);
    if (cached != iconsByName.end())
        return cached->second;
    QIcon icon;
    if (QDir::isAbsolutePath(iconName)) {
        if (QFileInfo(iconName).isFile())
            icon = QIcon(iconName);
    } else {
        QString themed = iconName;
        // Some entries name the icon file instead of the themed icon.
        for (const char* extension : {".png", ".svg", ".xpm"}) {
            if (themed.endsWith(QLatin1String(extension)))
                themed.chop(4);
        }
        icon = QIcon::fromTheme(themed);
    }
    iconsByName.emplace(iconName, icon);
    return icon;
}

std::optional<DesktopEntry> DesktopEntryCatalogue::entryForIdentifier(const QString& identifier) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    return displayEntryLocked(identifier);
}

std::optional<DesktopEntry> DesktopEntryCatalogue::displayEntryLocked(const QString& identifier) {
    const auto paths = allPathsByIdentifier.find(identifier);
    if (paths == allPathsByIdentifier.end())
        return std::nullopt;
    for (const QString& path : paths->second) {
        if (std::optional<DesktopEntry> entry = usableEntryLocked(path, identifier))
            return entry;
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntryCatalogue::entryForPath(const QString& path) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const QString identifier = identifierForPath(path);
    if (shadowedLocked(path, identifier))
        return std::nullopt;
    return usableEntryLocked(path, identifier);
}

std::vector<ProgramClaim> DesktopEntryCatalogue::claimsOfProgram(
    const QString& realExecutablePath) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const auto found = claimsByProgram.find(realExecutablePath);
    return found == claimsByProgram.end() ? std::vector<ProgramClaim>() : found->second;
}

QStringList DesktopEntryCatalogue::identifiersOfUnit(const QString& unit) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const auto found = identifiersByUnit.find(unit);
    return found == identifiersByUnit.end() ? QStringList() : found->second;
}

QStringList DesktopEntryCatalogue::identifiersOfWindowName(const QString& name) {
    if (name.isEmpty())
        return {};
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    const auto found = identifiersByWindowName.find(name.toLower());
    return found == identifiersByWindowName.end() ? QStringList() : found->second;
}

DesktopEntryCatalogue::ContentIdentifiers DesktopEntryCatalogue::identifiersOfProgramContent(
    const QString& executable, ByteComparison comparison) {
    ContentIdentifiers result;
    const UniqueFd file(::open(QFile::encodeName(executable).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size == 0)
        return result;
    const auto add = [&result](const QStringList& identifiers) {
        for (const QString& identifier : identifiers) {
            if (!result.identifiers.contains(identifier))
                result.identifiers.append(identifier);
        }
    };
    std::vector<std::pair<QString, QStringList>> candidates;  // same-size programs, claimants
    {
        std::lock_guard lock(mutex);
        ensureFreshLocked();
        refreshProgramFilesLocked();
        if (const std::optional<QByteArray> buildId =
                buildIdOfLocked(elf::signatureOf(status), file.get())) {
            const auto [first, last] = programsByBuildId.equal_range(*buildId);
            for (auto same = first; same != last; ++same)
                add(claimantsLocked(same->second));
            return result;
        }
        const auto [first, last] = programsBySize.equal_range(status.st_size);
        for (auto sized = first; sized != last; ++sized)
            candidates.emplace_back(sized->second, claimantsLocked(sized->second));
    }
    // Compared without the lock: the selection window's thread need not wait for the reads.
    const bool readBytes =
        comparison == ByteComparison::all || status.st_size <= quickComparisonLimit;
    for (const auto& [program, claimants] : candidates) {
        if (sameProgramContent(file.get(), status, program, readBytes))
            add(claimants);
        else if (!readBytes)
            result.largerComparisonLeft = true;
    }
    return result;
}

std::vector<ProgramClaim> DesktopEntryCatalogue::claimsOfProgramBuildId(const QString& image) {
    struct stat status {};
    if (::stat(QFile::encodeName(image).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    refreshProgramFilesLocked();
    std::optional<QByteArray> buildId;
    const auto known = buildIdsBySignature.find(elf::signatureOf(status));
    if (known != buildIdsBySignature.end()) {
        buildId = known->second;
    } else {
        const UniqueFd file(::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC));
        struct stat opened {};
        if (!file || ::fstat(file.get(), &opened) != 0)
            return {};
        buildId = buildIdOfLocked(elf::signatureOf(opened), file.get());
    }
    std::vector<ProgramClaim> claims;
    if (!buildId)
        return claims;
    const auto [first, last] = programsByBuildId.equal_range(*buildId);
    for (auto same = first; same != last; ++same) {
        const std::vector<ProgramClaim>& ofProgram = claimsByProgram.at(same->second);
        claims.insert(claims.end(), ofProgram.begin(), ofProgram.end());
    }
    return claims;
}

QStringList DesktopEntryCatalogue::claimantsLocked(const QString& program) const {
    QStringList identifiers;
    for (const ProgramClaim& claim : claimsByProgram.at(program))
        identifiers.append(claim.entry.identifier);
    return identifiers;
}

std::optional<QByteArray> DesktopEntryCatalogue::buildIdOfLocked(const FileSignature& signature,
                                                                 int descriptor) {
    const auto known = buildIdsBySignature.find(signature);
    if (known != buildIdsBySignature.end())
        return known->second;
    std::optional<QByteArray> buildId;
    if (const std::optional<elf::BuildId> read = elf::readBuildId(descriptor))
        buildId = read->bytes;
    if (buildIdsBySignature.size() >= maximumRememberedBuildIds)
        buildIdsBySignature.clear();
    buildIdsBySignature.emplace(signature, buildId);
    return buildId;
}

// Indexes the claimed programs by build-id, and those without one by size; a program whose file
// did not change keeps what was read of it.
void DesktopEntryCatalogue::refreshProgramFilesLocked() {
    const auto now = std::chrono::steady_clock::now();
    if (programFilesGeneration == indexGeneration &&
        now - programFilesChecked < programFilesRecheck)
        return;
    programFilesGeneration = indexGeneration;
    programFilesChecked = now;
    std::map<QString, ProgramFile> files;
    programsBySize.clear();
    programsByBuildId.clear();
    for (const auto& [program, claims] : claimsByProgram) {
        struct stat status {};
        if (::stat(QFile::encodeName(program).constData(), &status) != 0 ||
            !S_ISREG(status.st_mode))
            continue;
        ProgramFile file{elf::signatureOf(status), std::nullopt};
        const auto known = programFiles.find(program);
        if (known != programFiles.end() && known->second.signature == file.signature) {
            file.buildId = known->second.buildId;
        } else if (const std::optional<elf::BuildId> read = elf::readBuildId(program)) {
            file.buildId = read->bytes;
        }
        if (file.buildId)
            programsByBuildId.emplace(*file.buildId, program);
        else
            programsBySize.emplace(status.st_size, program);
        files.emplace(program, std::move(file));
    }
    programFiles = std::move(files);
}

QStringList DesktopEntryCatalogue::programs() {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    QStringList result;
    for (const auto& [program, claims] : claimsByProgram)
        result.append(program);
    return result;
}

QStringList DesktopEntryCatalogue::programsClaimedBy(const QString& identifier) {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    QStringList result;
    for (const auto& [program, claims] : claimsByProgram) {
        if (std::any_of(claims.begin(), claims.end(), [&](const ProgramClaim& claim) {
                return claim.entry.identifier == identifier;
            }))
            result.append(program);
    }
    return result;
}

quint64 DesktopEntryCatalogue::generation() {
    std::lock_guard lock(mutex);
    ensureFreshLocked();
    return indexGeneration;
}

bool DesktopEntryCatalogue::refreshIfChanged() {
    std::lock_guard lock(mutex);
    const quint64 before = indexGeneration;
    ensureFreshLocked();
    return indexGeneration != before;
}

// Drains the folder events; any event that concerns an application folder marks the index stale.
void DesktopEntryCatalogue::ensureFreshLocked() {
    bool changed = !indexed;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t length = inotify ? ::read(inotify.get(), buffer.data(), buffer.size()) : -1;
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += sizeof(inotify_event) + event->len;
            const auto watch = watchesByDescriptor.find(event->wd);
            if (event->mask & IN_Q_OVERFLOW || watch == watchesByDescriptor.end() ||
                watch->second.awaitedChildren.isEmpty() ||
                (event->len &&
                 watch->second.awaitedChildren.contains(QFile::decodeName(event->name))))
                changed = true;
        }
    }
    if (changed)
        rebuildLocked();
}

void DesktopEntryCatalogue::rebuildLocked() {
    indexed = true;
    ++indexGeneration;
    pathsByIdentifier.clear();
    allPathsByIdentifier.clear();
    std::map<int, Watch> watches;
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<QString> order;
    for (const QString& folder : applicationFolders) {
        if (QFileInfo(folder).isDir()) {
            indexFolderLocked(folder, {}, 0, visited, order, watches);
        } else {
            watchNearestAncestorLocked(folder, watches);
        }
    }
    std::map<QString, std::vector<ProgramClaim>> previousClaims = std::move(claimsByProgram);
    indexClaimsLocked(order);
    indexBusServicesLocked(watches);
    keepPreviousClaimsLocked(previousClaims);
    for (const auto& [descriptor, watch] : watchesByDescriptor) {
        if (!watches.count(descriptor))
            ::inotify_rm_watch(inotify.get(), descriptor);
    }
    watchesByDescriptor = std::move(watches);
    // Entries no longer indexed are dropped, so removed files do not stay cached.
    std::map<QString, ParsedEntry> kept;
    for (const auto& [identifier, paths] : allPathsByIdentifier) {
        for (const QString& path : paths) {
            if (const auto parsed = parsedByPath.find(path); parsed != parsedByPath.end())
                kept.insert(*parsed);
        }
    }
    parsedByPath = std::move(kept);
}

// Every entry of an identifier, in every folder, lends it its programs: a hidden or shadowing
// entry of the user's never takes a program away from the application it belongs to.
void DesktopEntryCatalogue::indexClaimsLocked(const std::vector<QString>& order) {
    claimsByProgram.clear();
    identifiersByWindowName.clear();
    for (const QString& identifier : order) {
        const std::optional<DesktopEntry> shown = displayEntryLocked(identifier);
        for (const QString& path : allPathsByIdentifier[identifier]) {
            const ParsedEntry* parsed = parsedLocked(path);
            if (!parsed || !parsed->readable)
                continue;
            DesktopEntry entry = shown ? *shown : parsed->entry;
            entry.identifier = identifier;
            for (const QString& program : parsed->entry.programs) {
                const QStringList arguments = parsed->entry.execPrograms.contains(program)
                                                  ? parsed->entry.execArguments
                                                  : QStringList();
                addClaimLocked(program, {entry, arguments, !shown});
            }
            // The Exec word's own name too (a link's, not its target's), unless it is an
            // interpreter's, which names no application.
            const QString execName =
                parsed->entry.execPrograms.isEmpty() ? QString() : parsed->entry.executable;
            for (const QString& name : {parsed->entry.startupWMClass, execName, identifier})
                addWindowNameLocked(name, identifier);
        }
    }
}

// A claim seen once stays for the rest of the run while its program is installed: an entry edited
// to name another program, hidden without its Exec, or deleted never takes a program away from its
// application (the kept claim counts as hidden: it lists nothing).
void DesktopEntryCatalogue::keepPreviousClaimsLocked(
    const std::map<QString, std::vector<ProgramClaim>>& previousClaims) {
    for (const auto& [program, claims] : previousClaims) {
        if (!QFileInfo::exists(program))
            continue;
        for (const ProgramClaim& claim : claims) {
            const std::vector<ProgramClaim>& current = claimsByProgram[program];
            const bool stillClaimed =
                std::any_of(current.begin(), current.end(), [&](const ProgramClaim& other) {
                    return other.entry.identifier == claim.entry.identifier;
                });
            if (stillClaimed)
                continue;
            ProgramClaim kept = claim;
            kept.hidden = true;
            addClaimLocked(program, std::move(kept));
        }
        if (claimsByProgram[program].empty())
            claimsByProgram.erase(program);
    }
}

// Identifiers are indexed one after the other, so a repeat of the one being indexed can only be
// the last one noted: the checks stay short however many entries name one program.
void DesktopEntryCatalogue::addClaimLocked(const QString& program, ProgramClaim claim) {
    std::vector<ProgramClaim>& claims = claimsByProgram[program];
    for (auto other = claims.rbegin();
         other != claims.rend() && other->entry.identifier == claim.entry.identifier; ++other) {
        if (other->arguments == claim.arguments)
            return;
    }
    addWindowNameLocked(QFileInfo(program).fileName(), claim.entry.identifier);
    claims.push_back(std::move(claim));
}

void DesktopEntryCatalogue::addWindowNameLocked(const QString& name, const QString& identifier) {
    if (name.isEmpty())
        return;
    QStringList& identifiers = identifiersByWindowName[name.toLower()];
    if (identifiers.isEmpty() || identifiers.last() != identifier)
        identifiers.append(identifier);
}

// A server that the session bus starts for an application (a terminal's server, say) runs on its
// behalf: the program of the service named like an entry is one of that entry's programs, and the
// systemd user unit that may start it instead names the application too.
void DesktopEntryCatalogue::indexBusServicesLocked(std::map<int, Watch>& watches) {
    identifiersByUnit.clear();
    for (const QString& folder : serviceFolders) {
        if (!QFileInfo(folder).isDir()) {
            watchNearestAncestorLocked(folder, watches);
            continue;
        }
        watchLocked(folder, {}, watches);
        QDir directory(folder);
        for (const QString& name :
             directory.entryList({QStringLiteral("*.service")}, QDir::Files, QDir::Name)) {
            QByteArray contents;
            if (!readLimited(directory.filePath(name), contents))
                continue;
            const std::optional<BusServiceFields> service = parseBusServiceFile(contents);
            if (!service || !allPathsByIdentifier.count(service->name))
                continue;
            const std::optional<DesktopEntry> shown = displayEntryLocked(service->name);
            DesktopEntry entry;
            if (shown) {
                entry = *shown;
            } else {
                entry.identifier = service->name;
                entry.name = service->name;
            }
            for (const QString& program : identifyingPrograms(service->execProgram))
                addClaimLocked(program, {entry, {}, !shown});
            if (!service->systemdService.isEmpty() &&
                !identifiersByUnit[service->systemdService].contains(service->name))
                identifiersByUnit[service->systemdService].append(service->name);
        }
    }
}

void DesktopEntryCatalogue::indexFolderLocked(const QString& folder, const QString& prefix,
                                              int depth, std::set<std::pair<dev_t, ino_t>>& visited,
                                              std::vector<QString>& order,
                                              std::map<int, Watch>& watches) {
    struct stat status {};
    if (depth > maximumFolderDepth || ::stat(QFile::encodeName(folder).constData(), &status) != 0 ||
        !visited.insert({status.st_dev, status.st_ino}).second)
        return;
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(QFile::encodeName(folder).constData()),
                                                  &::closedir);
    if (!directory)
        return;
    watchLocked(folder, {}, watches);
    std::vector<std::pair<QString, unsigned char>> names;
    while (const dirent* item = ::readdir(directory.get())) {
        if (item->d_name[0] == '.' || !validUtf8Name(item->d_name))
            continue;
        names.emplace_back(QString::fromUtf8(item->d_name), item->d_type);
    }
    std::sort(names.begin(), names.end());
    for (const auto& [name, type] : names) {
        const QString child = folder + QLatin1Char('/') + name;
        bool isFolder = type == DT_DIR;
        if (type == DT_LNK || type == DT_UNKNOWN)
            isFolder = QFileInfo(child).isDir();
        if (isFolder) {
            indexFolderLocked(child, prefix + name + QLatin1Char('-'), depth + 1, visited, order,
                              watches);
        } else if (name.endsWith(entrySuffix)) {
            const QString identifier = prefix + name.chopped(entrySuffix.size());
            if (pathsByIdentifier.emplace(identifier, child).second)
                order.push_back(identifier);
            allPathsByIdentifier[identifier].push_back(child);
        }
    }
}

void DesktopEntryCatalogue::watchLocked(const QString& folder, const QString& awaitedChild,
                                        std::map<int, Watch>& watches) {
    if (!inotify)
        return;
    // A folder may be watched twice (the parent of a missing applications folder and of a missing
    // services folder): the events add up, and so do the names awaited.
    const int descriptor =
        ::inotify_add_watch(inotify.get(), QFile::encodeName(folder).constData(),
                            (awaitedChild.isEmpty() ? folderEvents : ancestorEvents) | IN_MASK_ADD);
    // Out of watches: the folder is still indexed, only its changes go unseen until a rebuild.
    if (descriptor < 0)
        return;
    const auto known = watches.find(descriptor);
    if (known == watches.end()) {
        watches[descriptor] = {folder,
                               awaitedChild.isEmpty() ? QStringList() : QStringList{awaitedChild}};
    } else if (awaitedChild.isEmpty() || known->second.awaitedChildren.isEmpty()) {
        known->second.awaitedChildren.clear();
    } else {
        known->second.awaitedChildren.append(awaitedChild);
    }
}

// A folder that does not exist yet (a new user's applications folder) appears in its nearest
// existing ancestor; only the creation of the next component on its path is of interest.
void DesktopEntryCatalogue::watchNearestAncestorLocked(const QString& missingFolder,
                                                       std::map<int, Watch>& watches) {
    QString child = missingFolder;
    QString parent = QFileInfo(child).path();
    while (parent != child && !QFileInfo(parent).isDir()) {
        child = parent;
        parent = QFileInfo(child).path();
    }
    if (parent != child)
        watchLocked(parent, QFileInfo(child).fileName(), watches);
}

const DesktopEntryCatalogue::ParsedEntry* DesktopEntryCatalogue::parsedLocked(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        parsedByPath.erase(path);
        return nullptr;
    }
    const FileSignature signature = elf::signatureOf(status);
    auto found = parsedByPath.find(path);
    if (found != parsedByPath.end() && found->second.signature == signature)
        return &found->second;
    ParsedEntry parsed;
    parsed.signature = signature;
    parseEntry(path, parsed.entry, parsed.readable, parsed.usable);
    return &(parsedByPath[path] = std::move(parsed));
}

std::optional<DesktopEntry> DesktopEntryCatalogue::usableEntryLocked(const QString& path,
                                                                     const QString& identifier) {
    const ParsedEntry* parsed = parsedLocked(path);
    if (!parsed || !parsed->usable)
        return std::nullopt;
    DesktopEntry entry = parsed->entry;
    entry.identifier = identifier;
    return entry;
}

bool DesktopEntryCatalogue::shadowedLocked(const QString& path, const QString& identifier) const {
    const auto found = pathsByIdentifier.find(identifier);
    if (found == pathsByIdentifier.end() || found->second == path)
        return false;
    const QString chosen = QFileInfo(found->second).canonicalFilePath();
    return chosen.isEmpty() || chosen != QFileInfo(path).canonicalFilePath();
}

}  // namespace platform
