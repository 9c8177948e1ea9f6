// Parses the /proc files of one process. Every reader tolerates a process that vanishes while it
// reads and files in unexpected shapes: the answer is then none or empty, never a crash.
#include "platform/linux/ProcReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <charconv>
#include <memory>

#include "platform/linux/UniqueFd.h"

namespace platform::proc {

namespace {

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

QString unescapeUnitName(const QString& escaped) {
    QString result;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        bool ok = false;
        if (escaped[i] == QLatin1Char('\\') && i + 3 < escaped.size() &&
            escaped[i + 1] == QLatin1Char('x')) {
            const int code = escaped.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                result.append(QChar(code));
                i += 3;
                continue;
            }
        }
        result.append(escaped[i]);
    }
    return result;
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

std::optional<ProcessStatus> readStatus(pid_t pid) {
    struct stat owner {};
    if (::stat(procPath(pid, "").constData(), &owner) != 0)
        return std::nullopt;
    const std::optional<QByteArray> stat = readFile(procPath(pid, "stat"), 4096);
    if (!stat)
        return std::nullopt;
    // "pid (comm) state ppid pgrp …": the name may hold spaces and parentheses of its own.
    const qsizetype open = stat->indexOf('(');
    const qsizetype close = stat->lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(close + 1).simplified().split(' ');
    ProcessStatus status;
    status.pid = pid;
    status.owner = owner.st_uid;
    status.name = QString::fromUtf8(stat->mid(open + 1, close - open - 1));
    // After the name: state(0) ppid(1) pgrp(2) … starttime(19).
    if (fields.size() < 20 || !parseNumber(fields[1], status.parent) ||
        !parseNumber(fields[2], status.processGroup) || !parseNumber(fields[19], status.startTime))
        return std::nullopt;
    status.executable = readExecutable(pid);
    return status;
}

std::optional<unsigned long long> readStartTime(pid_t pid) {
    const std::optional<QByteArray> stat = readFile(procPath(pid, "stat"), 4096);
    const qsizetype close = stat ? stat->lastIndexOf(')') : -1;
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat->mid(close + 1).simplified().split(' ');
    unsigned long long startTime = 0;
    if (fields.size() < 20 || !parseNumber(fields[19], startTime))
        return std::nullopt;
    return startTime;
}

QString readExecutable(pid_t pid) {
    char target[4096];
    const ssize_t length = ::readlink(procPath(pid, "exe").constData(), target, sizeof target - 1);
    if (length <= 0)
        return {};
    QByteArray path(target, length);
    // An upgraded binary is still the same application.
    static const QByteArray deleted = " (deleted)";
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return QFile::decodeName(path);
}

std::optional<QByteArray> readEnvironmentValue(pid_t pid, const QByteArray& name) {
    const std::optional<QByteArray> environment = readFile(procPath(pid, "environ"), 1 << 20);
    if (!environment)
        return std::nullopt;
    const QByteArray prefix = name + '=';
    for (const QByteArray& entry : environment->split('\0')) {
        if (entry.startsWith(prefix))
            return entry.mid(prefix.size());
    }
    return std::nullopt;
}

QString readCgroupLeaf(pid_t pid) {
    const std::optional<QByteArray> cgroups = readFile(procPath(pid, "cgroup"), 64 * 1024);
    if (!cgroups)
        return {};
    QByteArray chosen;
    for (const QByteArray& line : cgroups->split('\n')) {
        // The unified hierarchy ("0::/…") names the unit; the systemd one stands in on v1 hosts.
        if (line.startsWith("0::") || (chosen.isEmpty() && line.contains(":name=systemd:")))
            chosen = line;
    }
    if (chosen.isEmpty())
        return {};
    return QString::fromUtf8(chosen.mid(chosen.lastIndexOf('/') + 1));
}

QString readFlatpakApplication(pid_t pid) {
    const std::optional<QByteArray> info = readFile(procPath(pid, "root/.flatpak-info"), 64 * 1024);
    if (!info)
        return {};
    GKeyFile* keyFile = g_key_file_new();
    QString application;
    if (g_key_file_load_from_data(keyFile, info->constData(), info->size(), G_KEY_FILE_NONE,
                                  nullptr)) {
        if (gchar* name = g_key_file_get_string(keyFile, "Application", "name", nullptr)) {
            application = QString::fromUtf8(name);
            g_free(name);
        }
    }
    g_key_file_free(keyFile);
    return application;
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
    // The older scope names end the application part in "-<pid>".
    const qsizetype dash = application.lastIndexOf(QLatin1Char('-'));
    bool numeric = false;
    if (parts.size() == 4 && dash > 0)
        application.mid(dash + 1).toLongLong(&numeric);
    if (numeric)
        application.truncate(dash);
    return parts[1] + QLatin1Char('_') + application;
}

}  // namespace platform::proc
