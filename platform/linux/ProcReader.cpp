// Parses the /proc files of one process. Every reader tolerates a process that vanishes while it
// reads and files in unexpected shapes: the answer is then none or empty, never a crash.
#include "platform/linux/ProcReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <functional>
#include <memory>
#include <optional>

#include "platform/linux/ElfBuildId.h"
#include "platform/linux/GLibPointers.h"
#include "platform/linux/UniqueFd.h"

namespace platform::proc {

namespace {

constexpr qsizetype statLimit = 4096;
constexpr qsizetype environLimit = 1 << 20;
constexpr qsizetype keyFileLimit = 64 * 1024;

QByteArray procPath(pid_t pid, const char* file) {
    return QByteArray("/proc/") + QByteArray::number(pid) + '/' + file;
}

// Reads at most `limit` bytes of a /proc file (whose size the kernel does not report).
std::optional<QByteArray> readFile(const QByteArray& path, qsizetype limit) {
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    QByteArray contents;
    char buffer[4096];
    while (contents.size() < limit) {
        const ssize_t length = ::read(fd.get(), buffer, sizeof buffer);
        if (length < 0)
            return std::nullopt;
        if (length == 0)
            break;
        contents.append(buffer, std::min<qsizetype>(length, limit - contents.size()));
    }
    return contents;
}

template <typename Number>
bool parseNumber(const QByteArray& text, Number& value) {
    const char* end = text.constData() + text.size();
    const auto [last, error] = std::from_chars(text.constData(), end, value);
    return error == std::errc() && last == end;
}

// The kernel never writes negative ids; a "-1" would read as "no parent" further on.
bool parseId(const QByteArray& text, pid_t& value) {
    return !text.startsWith('-') && parseNumber(text, value);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// systemd escapes each byte outside its unit-name alphabet as "\xHH", so a non-ASCII id arrives
// as the escaped bytes of its UTF-8 text.
QString unescapeUnitName(const QString& escaped) {
    const QByteArray text = escaped.toUtf8();
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const int high = hexDigit(text[i + 2]);
            const int low = hexDigit(text[i + 3]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                bytes.append(char(high * 16 + low));
                i += 3;
                continue;
            }
        }
        bytes.append(text[i]);
    }
    return QString::fromUtf8(bytes);
}

// The kernel marks a path whose file or cgroup is gone with " (deleted)".
QByteArray withoutDeletedMark(QByteArray path) {
    static const QByteArray deleted = " (deleted)";
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

bool isDecimal(QStringView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

bool isUuid(QStringView text) {
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == QLatin1Char('-')))
            return false;
        const char16_t c = text[i].unicode();
        if (!dash && (c >= 128 || hexDigit(char(c)) < 0))
            return false;
    }
    return true;
}

}  // namespace

std::vector<pid_t> listProcesses() {
    std::vector<pid_t> pids;
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir("/proc"), &::closedir);
    if (!directory)
        return pids;
    while (const dirent* item = ::readdir(directory.get())) {
        pid_t pid = 0;
        const char* end = item->d_name + std::char_traits<char>::length(item->d_name);
        const auto [last, error] = std::from_chars(item->d_name, end, pid);
        if (error == std::errc() && last == end && pid > 0)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::optional<StatFields> parseStat(const QByteArray& stat) {
    // The comm sits between the first "(" and the last ")": no later field holds a parenthesis.
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    StatFields parsed;
    parsed.name = QString::fromUtf8(stat.mid(open + 1, close - open - 1));
    // After the name: state(0) ppid(1) pgrp(2) … starttime(19).
    if (fields.size() < 20 || fields[0].size() != 1 || !parseId(fields[1], parsed.parent) ||
        !parseId(fields[2], parsed.processGroup) || !parseNumber(fields[19], parsed.startTime))
        return std::nullopt;
    parsed.state = fields[0].front();
    return parsed;
}

std::optional<ProcessStatus> readStatus(pid_t pid) {
    // The directory belongs to the process's effective user, even when it is not dumpable.
    struct stat owner {};
    if (::stat(procPath(pid, "").constData(), &owner) != 0)
        return std::nullopt;
    const std::optional<StatFields> fields = readStatFields(pid);
    if (!fields)
        return std::nullopt;
    ProcessStatus status;
    status.pid = pid;
    status.parent = fields->parent;
    status.processGroup = fields->processGroup;
    status.startTime = fields->startTime;
    status.owner = owner.st_uid;
    status.name = fields->name;
    status.executable = readExecutable(pid);
    return status;
}

std::optional<StatFields> readStatFields(pid_t pid) {
    const std::optional<QByteArray> stat = readFile(procPath(pid, "stat"), statLimit);
    return stat ? parseStat(*stat) : std::nullopt;
}

bool isUndumpableOfOurs(pid_t pid) {
    // The folder stays the effective user's; the files in it are root's while not dumpable.
    struct stat folder {};
    struct stat file {};
    const uid_t us = ::geteuid();
    return us != 0 && ::stat(procPath(pid, "").constData(), &folder) == 0 &&
           ::stat(procPath(pid, "stat").constData(), &file) == 0 && folder.st_uid == us &&
           file.st_uid == 0;
}

std::optional<unsigned long long> readStartTime(pid_t pid) {
    const std::optional<StatFields> fields = readStatFields(pid);
    if (!fields)
        return std::nullopt;
    return fields->startTime;
}

QString executableOfLink(const QByteArray& target) {
    // An upgraded binary is still the same application.
    return QFile::decodeName(withoutDeletedMark(target));
}

bool isDynamicLoader(const QString& executable) {
    const QString name = QFileInfo(executable).fileName();
    return name == QLatin1String("ld.so") ||
           (name.startsWith(QLatin1String("ld-")) && name.contains(QLatin1String(".so")));
}

QString programOfLoaderCommandLine(const QStringList& words) {
    // The loader's own options come first; these take a value.
    static const QStringList valued = {QStringLiteral("--library-path"),
                                       QStringLiteral("--inhibit-rpath"),
                                       QStringLiteral("--audit"),
                                       QStringLiteral("--preload"),
                                       QStringLiteral("--argv0"),
                                       QStringLiteral("--glibc-hwcaps-prepend"),
                                       QStringLiteral("--glibc-hwcaps-mask")};
    qsizetype index = 1;
    while (index < words.size() && words[index].startsWith(QLatin1String("--")))
        index += valued.contains(words[index]) ? 2 : 1;
    return index < words.size() ? words[index] : QString();
}

namespace {

QByteArray readRawLink(const QByteArray& path) {
    char target[4096];
    const ssize_t length = ::readlink(path.constData(), target, sizeof target);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

}  // namespace

std::optional<int> readPseudoTerminalIndex(pid_t pid) {
    static const QByteArray prefix("/dev/pts/");
    for (const char* fd : {"fd/0", "fd/1", "fd/2"}) {
        const QByteArray target = readRawLink(procPath(pid, fd));
        if (!target.startsWith(prefix))
            continue;
        bool ok = false;
        const int index = target.mid(prefix.size()).toInt(&ok);
        if (ok && index >= 0)
            return index;
    }
    return std::nullopt;
}

std::optional<int> parseTerminalIndex(const QByteArray& fdinfo) {
    for (const QByteArray& line : fdinfo.split('\n')) {
        if (!line.startsWith("tty-index:"))
            continue;
        bool ok = false;
        const int index = line.mid(10).trimmed().toInt(&ok);
        return ok && index >= 0 ? std::optional<int>(index) : std::nullopt;
    }
    return std::nullopt;
}

namespace {

// Whether any open descriptor of the process, told by its number and link target, passes the
// test; none when its descriptors cannot be read.
std::optional<bool> anyDescriptor(
    pid_t pid, const std::function<bool(const QByteArray& fd, const QByteArray& target)>& test) {
    const QByteArray fdFolder = procPath(pid, "fd");
    QDir folder(QString::fromLocal8Bit(fdFolder));
    if (!folder.isReadable())
        return std::nullopt;
    for (const QString& name :
         folder.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QByteArray fd = name.toLatin1();
        if (test(fd, readRawLink(fdFolder + '/' + fd)))
            return true;
    }
    return false;
}

}  // namespace

// Looks only at descriptors that are the multiplexer, so an application with many files open
// costs one link read each and one small fdinfo read per terminal it holds.
bool holdsPseudoTerminalMaster(pid_t pid, int index) {
    return anyDescriptor(pid,
                         [pid, index](const QByteArray& fd, const QByteArray& target) {
                             if (target != "/dev/ptmx" && target != "/dev/pts/ptmx")
                                 return false;
                             QFile info(QString::fromLocal8Bit(procPath(pid, "fdinfo/") + fd));
                             return info.open(QIODevice::ReadOnly) &&
                                    parseTerminalIndex(info.read(4096)) == index;
                         })
        .value_or(false);
}

// Unreadable descriptors tell nothing: the process may be connected.
bool holdsSocketsBeyondStandardStreams(pid_t pid) {
    return anyDescriptor(pid,
                         [](const QByteArray& fd, const QByteArray& target) {
                             bool isNumber = false;
                             return !(fd.toInt(&isNumber) <= STDERR_FILENO && isNumber) &&
                                    target.startsWith("socket:");
                         })
        .value_or(true);
}

namespace {

QString readLink(pid_t pid, const char* entry) {
    char target[4096];
    const ssize_t length = ::readlink(procPath(pid, entry).constData(), target, sizeof target - 1);
    return length > 0 ? executableOfLink(QByteArray(target, length)) : QString();
}

// Whether the process runs the dynamic loader: under its own name, or a copy of it under any
// other (known by its build-id), which runs the program its command line names all the same.
bool runsDynamicLoader(pid_t pid, const QString& executable) {
    if (isDynamicLoader(executable))
        return true;
    const QByteArray image = procPath(pid, "exe");
    struct stat status {};
    return !executable.isEmpty() && ::stat(image.constData(), &status) == 0 &&
           elf::isSystemLoaderImage(QString::fromLatin1(image), status);
}

// The real path of the program a loader's process runs; empty for a process of any other
// executable, and when the loader's command line names none.
QString readLoadedProgram(pid_t pid, const QString& executable) {
    if (!runsDynamicLoader(pid, executable))
        return {};
    QString program = programOfLoaderCommandLine(readCommandLine(pid));
    if (program.isEmpty())
        return {};
    // The loader opened a relative path from the process's working directory (the one it started
    // in, unless it has moved since).
    if (QFileInfo(program).isRelative()) {
        const QString directory = readLink(pid, "cwd");
        if (directory.isEmpty())
            return {};
        program = directory + QLatin1Char('/') + program;
    }
    const QString real = QFileInfo(program).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(program) : real;
}

}  // namespace

QString readExecutable(pid_t pid) {
    const QString executable = readLink(pid, "exe");
    const QString loaded = readLoadedProgram(pid, executable);
    return loaded.isEmpty() ? executable : loaded;
}

QString readProgramImagePath(pid_t pid) {
    const QString loaded = readLoadedProgram(pid, readLink(pid, "exe"));
    return loaded.isEmpty() ? QString::fromLatin1(procPath(pid, "exe")) : loaded;
}

std::optional<QByteArray> environmentValue(const QByteArray& environ, const QByteArray& name) {
    // An empty name, or one holding "=" or NUL, would match part of another entry.
    if (name.isEmpty() || name.contains('=') || name.contains('\0'))
        return std::nullopt;
    const QByteArray prefix = name + '=';
    for (const QByteArray& entry : environ.split('\0')) {
        if (entry.startsWith(prefix))
            return entry.mid(prefix.size());
    }
    return std::nullopt;
}

std::optional<QByteArray> readEnvironment(pid_t pid) {
    std::optional<QByteArray> environment = readFile(procPath(pid, "environ"), environLimit);
    // Cut at the limit, the last entry may have lost the end of its value.
    if (environment && environment->size() == environLimit)
        environment->truncate(environment->lastIndexOf('\0') + 1);
    return environment;
}

std::optional<QByteArray> readEnvironmentValue(pid_t pid, const QByteArray& name) {
    const std::optional<QByteArray> environment = readEnvironment(pid);
    return environment ? environmentValue(*environment, name) : std::nullopt;
}

QStringList parseCommandLine(const QByteArray& commandLine) {
    QStringList words;
    if (commandLine.isEmpty())
        return words;
    for (const QByteArray& word : commandLine.split('\0'))
        words.append(QString::fromLocal8Bit(word));
    // The kernel ends every word with a NUL, which leaves one empty piece after the last.
    if (commandLine.endsWith('\0'))
        words.removeLast();
    return words;
}

QStringList readCommandLine(pid_t pid) {
    const std::optional<QByteArray> commandLine = readFile(procPath(pid, "cmdline"), keyFileLimit);
    return commandLine ? parseCommandLine(*commandLine) : QStringList();
}

std::optional<unsigned> readAuditSession(pid_t pid) {
    const std::optional<QByteArray> text = readFile(procPath(pid, "sessionid"), 32);
    unsigned session = 0;
    // (unsigned)-1 marks a process that no login session was ever assigned to.
    if (!text || !parseNumber(text->trimmed(), session) || session == 0xffffffffu)
        return std::nullopt;
    return session;
}

QString parseCgroupLeaf(const QByteArray& cgroups) {
    static const QByteArray systemdHierarchy = ":name=systemd:";
    QByteArray unified;
    QByteArray systemd;
    for (const QByteArray& line : cgroups.split('\n')) {
        if (unified.isEmpty() && line.startsWith("0::"))
            unified = line.mid(3);
        else if (systemd.isEmpty() && line.contains(systemdHierarchy))
            systemd = line.mid(line.indexOf(systemdHierarchy) + systemdHierarchy.size());
    }
    // Every kernel lists the unified hierarchy; on v1 hosts it holds everybody in its root and the
    // systemd hierarchy names the unit.
    QByteArray path = !unified.isEmpty() && unified != "/" ? unified : systemd;
    // A process outliving its removed cgroup (a zombie) shows it marked.
    path = withoutDeletedMark(path);
    return QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
}

QString readCgroupLeaf(pid_t pid) {
    const std::optional<QByteArray> cgroups = readFile(procPath(pid, "cgroup"), keyFileLimit);
    return cgroups ? parseCgroupLeaf(*cgroups) : QString();
}

QString parseFlatpakInfo(const QByteArray& info) {
    // A key file is text; GLib would read a name up to a NUL inside it and return it cut.
    if (info.contains('\0'))
        return {};
    const GKeyFilePointer keyFile(g_key_file_new());
    if (!g_key_file_load_from_data(keyFile.get(), info.constData(), info.size(), G_KEY_FILE_NONE,
                                   nullptr))
        return {};
    const GCharPtr name(g_key_file_get_string(keyFile.get(), "Application", "name", nullptr));
    return name ? QString::fromUtf8(name.get()) : QString();
}

QString readFlatpakApplication(pid_t pid) {
    const std::optional<QByteArray> info =
        readFile(procPath(pid, "root/.flatpak-info"), keyFileLimit);
    return info ? parseFlatpakInfo(*info) : QString();
}

std::vector<QString> applicationIdsOfUnit(const QString& unit) {
    if (!unit.startsWith(QLatin1String("app-")))
        return {};
    QString body = unit.mid(4);
    if (body.endsWith(QLatin1String(".service"))) {
        body.chop(8);
        body = body.section(QLatin1Char('@'), 0, 0);
    } else if (body.endsWith(QLatin1String(".scope"))) {
        body.chop(6);
        // A scope ends in "-<random>"; a service's random part follows "@" instead.
        const qsizetype dash = body.lastIndexOf(QLatin1Char('-'));
        if (dash <= 0)
            return {};
        body.truncate(dash);
    } else {
        return {};
    }
    // Dashes inside the id are escaped, so a plain dash separates the launcher from the id.
    std::vector<QString> candidates;
    const qsizetype dash = body.indexOf(QLatin1Char('-'));
    if (dash > 0)
        candidates.push_back(unescapeUnitName(body.mid(dash + 1)));
    candidates.push_back(unescapeUnitName(body));
    candidates.erase(std::remove(candidates.begin(), candidates.end(), QString()),
                     candidates.end());
    return candidates;
}

QString snapDesktopIdOfCgroup(const QString& leaf) {
    if (!leaf.startsWith(QLatin1String("snap.")))
        return {};
    const QStringList parts = leaf.split(QLatin1Char('.'));
    if (parts.size() < 4 || parts[1].isEmpty() || parts[2].isEmpty())
        return {};
    QString application = parts[2];
    if (parts.size() == 4) {
        // Scopes end the application part in "-<uuid>", the older ones in "-<pid>".
        const qsizetype uuidStart = application.size() - 36;
        const qsizetype dash = application.lastIndexOf(QLatin1Char('-'));
        if (uuidStart > 1 && application[uuidStart - 1] == QLatin1Char('-') &&
            isUuid(QStringView(application).mid(uuidStart)))
            application.truncate(uuidStart - 1);
        else if (dash > 0 && isDecimal(QStringView(application).mid(dash + 1)))
            application.truncate(dash);
    }
    return parts[1] + QLatin1Char('_') + application;
}

}  // namespace platform::proc
